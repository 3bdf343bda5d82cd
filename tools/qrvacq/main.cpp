// qrvacq: drives the camera plug-in's entry points from the command line, loading
// the plug-in at run time as a machine-vision host does.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "Commands.h"
#if defined(QRVACQ_WITH_VIEW)
#include "LiveView.h"
#endif
#include "Directory.h"
#include "KZRSim.h"
#include "Platform.h"
#include "PluginApi.h"
#include "Shell.h"
#include "Text.h"

namespace {

using namespace qrvacq;

struct Options {
    std::string pluginPath;
    std::string scenario;
    bool scenarioGiven = false;
    bool real = false;
    std::string configPath;
    bool configStrict = false;
    bool json = false;
    std::string serial;
    std::vector<std::string> features;
    std::vector<std::string> assignments;
    std::string command;
    std::string registerName;
    std::string address;
    std::string settingsFile;
    std::string saveAfter;
    int readCount = -1;
    std::string writeHex;
    GrabOptions grab;
#if defined(QRVACQ_WITH_VIEW)
    ViewOptions view;
#endif
    std::string script;
};

// CLI11's own messages quote the type's limits or only say that a conversion
// failed; say what the user needs, with the limit that was crossed.
CLI::Validator IntIn(long long minimum, long long maximum) {
    return CLI::Validator(
        [minimum, maximum](std::string& text) -> std::string {
            errno = 0;
            char* end = nullptr;
            const long long value = std::strtoll(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0') return "'" + text + "' is not a whole number";
            const bool negative = text[0] == '-';
            if ((errno == ERANGE && !negative) || value > maximum)
                return "'" + text + "' is above the limit " + std::to_string(maximum);
            if (errno == ERANGE || value < minimum)
                return "must be at least " + std::to_string(minimum);
            return {};
        },
        "");
}

CLI::Validator AtLeast(int minimum) {
    return IntIn(minimum, INT_MAX);
}

// The first word that is not a global option or its value: the command name.
// CLI11 would call an unknown one a missing subcommand or an extra argument.
std::string CommandWord(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--plugin" || arg == "--sim" || arg == "--config") {
            ++i;
            continue;
        }
        if (!arg.empty() && arg[0] == '-') continue;
        return arg;
    }
    return {};
}

bool IsCommand(const CLI::App& app, const std::string& name) {
    try {
        return app.get_subcommand(name) != nullptr;
    } catch (const CLI::OptionNotFound&) {
        return false;
    }
}

// A scenario the simulator cannot load is a usage error, found before any camera
// library starts (it would only print the reason and find no cameras).
bool CheckScenario(const std::string& scenario, std::set<std::string>& serials) {
    if (scenario == "demo") {
        for (const KZRSIM::CameraSpec& camera : KZRSIM::DemoScenario().cameras)
            serials.insert(camera.serial);
        return true;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(scenario, ec)) {
        std::cerr << "qrvacq: --sim " << scenario
                  << ": a folder; give a scenario JSON file inside it, or demo\n";
        return false;
    }
    std::ifstream file(scenario, std::ios::binary);
    if (!file) {
        std::cerr << "qrvacq: --sim " << scenario << ": " << std::strerror(errno) << "\n";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        std::cerr << "qrvacq: --sim " << scenario << ": cannot read the file\n";
        return false;
    }
    try {
        for (const KZRSIM::CameraSpec& camera :
             KZRSIM::ParseScenarioJson(text.str(), scenario).cameras)
            serials.insert(camera.serial);
    } catch (const std::exception& ex) {
        std::cerr << "qrvacq: --sim: " << ex.what() << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{"qrvacq: loads the QRVAcqGenIcam camera plug-in and calls its entry points"};
    app.require_subcommand(1);
    app.option_defaults()->always_capture_default();
    app.add_option("--plugin", options.pluginPath,
                   "plug-in library (default: libQRVAcqGenIcam.so in ../lib beside this program)");
    app.add_option(
        "--sim", options.scenario,
        "simulated cameras only, for this run: a scenario JSON file or \"demo\" (sets KZR_SIM)");
    app.add_flag("--real", options.real,
                 "with --sim: also the real cameras that Aravis finds (GigE Vision, USB3 Vision)");
    app.add_option("--config", options.configPath,
                   "camera configuration file (.cam) passed to Open");
    app.add_flag("--strict-config", options.configStrict,
                 "with --config: a .cam entry the camera did not take fails the command");

    CLI::App* list = app.add_subcommand("list", "list the cameras (GetCameraList)");
    list->add_flag("--json", options.json, "print JSON");
    CLI::App* cards = app.add_subcommand("cards", "list the frame-grabber cards (GetCardList)");
    cards->add_flag("--json", options.json, "print JSON");

    CLI::App* get = app.add_subcommand("get", "read features by their node type");
    get->add_option("serial", options.serial, "camera serial number")->required();
    get->add_option("features", options.features, "feature names")->required();
    get->add_flag("--json", options.json, "print JSON");

    CLI::App* set =
        app.add_subcommand("set", "write features by their node type and read them back");
    set->add_option("serial", options.serial, "camera serial number")->required();
    set->add_option("assignments", options.assignments, "FEATURE=VALUE ...")->required();
    set->add_flag("--json", options.json, "print JSON");

    CLI::App* features = app.add_subcommand(
        "features", "the camera's whole feature tree, through the camera library (no plug-in)");
    features->add_option("serial", options.serial, "camera serial number")->required();
    features->add_flag("--json", options.json, "print JSON");

    CLI::App* exec = app.add_subcommand("exec", "run a command feature (ExecuteCMD)");
    exec->add_option("serial", options.serial, "camera serial number")->required();
    exec->add_option("command", options.command, "command feature name")->required();

    CLI::App* reg = app.add_subcommand("reg", "read or write a register (Get/SetRegisterData)");
    reg->add_option("serial", options.serial, "camera serial number")->required();
    reg->add_option("name", options.registerName, "register feature name (or --address)");
    reg->add_option("--address", options.address,
                    "raw address on the camera's port instead of a register feature (0x...)");
    CLI::Option* read = reg->add_option("--read", options.readCount, "read N bytes and dump them")
                            ->check(AtLeast(0));
    reg->add_option("--write", options.writeHex, "write these bytes (hex digits)")->excludes(read);

    CLI::App* grab = app.add_subcommand("grab", "acquire frames, optionally into PNG files");
    grab->add_option("serial", options.serial, "camera serial number")->required();
    grab->add_option("-n,--count", options.grab.count, "number of frames")->check(AtLeast(1));
    grab->add_option("--timeout", options.grab.timeoutMs,
                     "time-out per frame in ms (negative: no limit)")
        ->check(IntIn(INT_MIN, INT_MAX));
    grab->add_flag("--chunks", options.grab.chunks, "grab with chunk data (GrabImageEx)");
    grab->add_option("-o,--output", options.grab.outDir,
                     "directory for frame_NNNN.png (and frame_NNNN.chunks.bin)");
    grab->add_option("--set", options.grab.settings,
                     "FEATURE=VALUE written in the grab's own session before StartAcquire")
        ->allow_extra_args(false);
    grab->add_flag("--overwrite", options.grab.overwrite,
                   "remove the frame files of an earlier grab in the -o directory first");
    grab->add_option("--start-arg", options.grab.startArg, "StartAcquire's start argument")
        ->check(IntIn(INT_MIN, INT_MAX));
    grab->add_flag("-q,--quiet", options.grab.quiet,
                   "no line (or JSON object) per frame: the statistics line and the summary only");
    grab->add_flag("--json", options.grab.json,
                   "one JSON object per frame and one for the summary, one per line");

#if defined(QRVACQ_WITH_VIEW)
    CLI::App* view = app.add_subcommand("view", "live view in the browser, with statistics and features");
    view->add_option("serial", options.serial, "camera serial number")->required();
    view->add_option("--port", options.view.port, "TCP port to serve on (0: any free port)")
        ->check(CLI::Range(0, 65535));
    view->add_option("--bind", options.view.bind,
                     "address to serve on (default 127.0.0.1; any other lets others reach the camera)");
    view->add_option("--timeout", options.view.timeoutMs, "time-out per frame in ms");
#endif
    CLI::App* save = app.add_subcommand(
        "save", "write every read-write feature to FILE (FEATURE=VALUE lines), via the node map");
    save->add_option("serial", options.serial, "camera serial number")->required();
    save->add_option("file", options.settingsFile, "settings file")->required();
    CLI::App* load = app.add_subcommand(
        "load", "write the features of a settings FILE back to the camera, via the node map");
    load->add_option("serial", options.serial, "camera serial number")->required();
    load->add_option("file", options.settingsFile, "settings file")->required();
    load->add_option("--save-after", options.saveAfter,
                     "then save the camera's settings to this file, as save does");

    CLI::App* events = app.add_subcommand("events", "print the camera's events as they arrive");
    events->add_option("serial", options.serial, "camera serial number")->required();
    events->add_option("-n,--count", options.grab.count, "events to wait for")->check(AtLeast(1));
    events->add_option("--timeout", options.grab.timeoutMs, "ms to wait for each event")
        ->check(AtLeast(0));
    CLI::App* shell = app.add_subcommand("shell", "run entry-point calls line by line");
    shell->add_option("file", options.script, "script file (default: standard input)");

    const std::string command = CommandWord(argc, argv);
    if (!command.empty() && !IsCommand(app, command)) {
        std::cerr << "qrvacq: unknown command '" << command << "'; qrvacq --help lists them\n";
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return app.exit(CLI::CallForHelp());
    } catch (const CLI::CallForAllHelp&) {
        return app.exit(CLI::CallForAllHelp());
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kExitUsage;
    }
    options.scenarioGiven = app.count("--sim") > 0;

    std::ifstream scriptFile;
    if (shell->parsed() && !options.script.empty()) {
        scriptFile.open(options.script);
        if (!scriptFile) {
            std::cerr << "qrvacq: cannot read " << options.script << "\n";
            return kExitUsage;
        }
    }
    if (reg->parsed() && options.registerName.empty() == options.address.empty()) {
        std::cerr << "qrvacq: reg needs a register feature name or --address, not both\n";
        return kExitUsage;
    }
    if (reg->parsed() && options.readCount < 0 && options.writeHex.empty()) {
        std::cerr << "qrvacq: reg needs --read N or --write HEX\n";
        return kExitUsage;
    }

    if (options.real && !options.scenarioGiven) {
        std::cerr
            << "qrvacq: --real goes with --sim (without --sim real cameras are listed anyway)\n";
        return kExitUsage;
    }
    std::set<std::string> simulated;
    // The camera library reads KZR_SIM and KZR_ARAVIS when it starts (for the
    // plug-in: when the plug-in is loaded).
    if (options.scenarioGiven) {
        if (!CheckScenario(options.scenario, simulated)) return kExitUsage;
        platform::SetEnv("KZR_SIM", options.scenario.c_str());
        if (options.real) {
            platform::UnsetEnv("KZR_ARAVIS");
        } else {
            platform::SetEnv("KZR_ARAVIS", "off");
        }
    }
    const CameraTarget target{options.serial, options.configPath, options.configStrict};
    // Started before the plug-in, after the environment it reads is set.
    CameraDirectory directory(simulated);
    SetRunDirectory(&directory);
    if (features->parsed()) return RunFeatures(target, options.json);
    if (save->parsed()) return RunSave(target, options.settingsFile);
    if (events->parsed()) return RunEvents(target, options.grab.count, options.grab.timeoutMs);
    if (load->parsed()) return RunLoad(target, options.settingsFile, options.saveAfter);
    if (reg->parsed() && !options.address.empty())
        return RunRegAddress(target, options.address, options.readCount, options.writeHex);

    if (options.pluginPath.empty()) options.pluginPath = DefaultPluginPath();
    Plugin plugin;
    std::string error;
    if (!plugin.Load(options.pluginPath, error)) {
        std::cerr << "qrvacq: " << error << "\n";
        return kExitUsage;
    }
    const PluginApi& api = plugin.Api();

    if (list->parsed()) return RunList(api, options.json);
    if (cards->parsed()) return RunCards(api, options.json);
    if (get->parsed()) return RunGet(api, target, options.features, options.json);
    if (set->parsed()) return RunSet(api, target, options.assignments, options.json);
    if (exec->parsed()) return RunExec(api, target, options.command);
    if (reg->parsed()) {
        return RunReg(api, target, options.registerName, options.readCount, options.writeHex);
    }
    if (grab->parsed()) {
        bool lost = false;
        const int status = RunGrab(api, target, options.grab, lost);
        // The camera library winds down the connection of a lost GigE Vision
        // camera at exit (Aravis's own resends and heartbeat: several seconds).
        // The handle is closed and the results are out; the system takes back
        // the sockets.
        if (lost) {
            std::cout.flush();
            std::cerr.flush();
            std::fflush(nullptr);
            std::_Exit(status);
        }
        return status;
    }
#if defined(QRVACQ_WITH_VIEW)
    if (view->parsed()) return RunView(api, target, options.view);
#endif
    Shell interpreter(api, std::cout, std::cerr);
    return interpreter.Run(scriptFile.is_open() ? static_cast<std::istream&>(scriptFile)
                                                : std::cin);
}
