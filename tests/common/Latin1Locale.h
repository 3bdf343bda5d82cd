// Switches LC_CTYPE to an ISO-8859-1 locale for one scope: an installed one, or
// else one compiled with localedef into a private folder. POSIX only.
#pragma once

#include <langinfo.h>
#include <stdlib.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace qrvtest {

class CLatin1Locale {
public:
    CLatin1Locale() : m_saved(std::setlocale(LC_CTYPE, nullptr)) {
        for (const char* name : {"en_US.ISO-8859-1", "de_DE.ISO-8859-1", "en_US.iso88591",
                                 "de_DE.iso88591", "en_US", "de_DE"}) {
            if (std::setlocale(LC_CTYPE, name) && IsLatin1()) return;
        }
        std::string dir = (std::filesystem::temp_directory_path() / "qrvlocale.XXXXXX").string();
        if (!mkdtemp(&dir[0])) return;
        m_dir = dir;
        const std::string command =
            "localedef -i en_US -f ISO-8859-1 '" + dir + "/en_US.ISO-8859-1' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return;
        setenv("LOCPATH", dir.c_str(), 1);
        std::setlocale(LC_CTYPE, "en_US.ISO-8859-1");
    }
    ~CLatin1Locale() {
        std::setlocale(LC_CTYPE, m_saved.c_str());
        if (m_dir.empty()) return;
        unsetenv("LOCPATH");
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    CLatin1Locale(const CLatin1Locale&) = delete;
    CLatin1Locale& operator=(const CLatin1Locale&) = delete;

    /// False when no Latin-1 locale could be set.
    static bool IsLatin1() { return std::string(nl_langinfo(CODESET)) == "ISO-8859-1"; }

private:
    std::string m_saved;
    std::string m_dir;
};

}  // namespace qrvtest
