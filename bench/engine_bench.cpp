// Our GenICam engine against Aravis's, in the same run, on the same generated
// description and memory image: load a 1 MB description; read every readable
// feature once (cold) and again (cached); write and read an integer through a
// converter driven by a swiss knife; heap kept per loaded description.
// Prints ratios ours / Aravis: for times and memory 1.0 is the same, LOWER IS
// BETTER for us. Prints figures; not a test.
#include <arv.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "EngineNodeMap.h"
#include "GenApi.h"
#include "MemoryDevice.h"
#include "MemoryPort.h"

namespace {

using namespace GenApi;

std::shared_ptr<CMemoryPort> MakePort(const std::vector<uint8_t>& image) {
    auto port = std::make_shared<CMemoryPort>(image.size());
    port->memory = image;
    return port;
}
using Clock = std::chrono::steady_clock;

std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

/// The best of runs timings, in seconds: the least disturbed by the other work of
/// a shared machine.
double Best(int runs, const std::function<double()>& once) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) best = std::min(best, once());
    return best;
}

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

size_t HeapInUse() {
    malloc_trim(0);
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// ---- our engine ----
struct SOurs {
    std::shared_ptr<CMemoryPort> port;
    std::unique_ptr<CEngineNodeMap> map;
    std::vector<INode*> readable;
};

SOurs OurLoad(const std::string& xml, const std::vector<uint8_t>& image) {
    SOurs s;
    s.port = MakePort(image);
    s.map = CEngineNodeMap::Load(xml, s.port, "bench");
    return s;
}

/// Reads every feature that is readable; the number of values read.
int OurReadAll(SOurs& s) {
    int n = 0;
    NodeList_t nodes;
    s.map->GetNodes(nodes);
    for (INode* node : nodes) {
        if (!node->IsFeature() || !IsReadable(node->GetAccessMode())) continue;
        if (auto* value = dynamic_cast<IValue*>(node)) {
            if (node->GetPrincipalInterfaceType() == intfICategory) continue;
            try {
                (void)value->ToString();
                ++n;
            } catch (const GenICam::GenericException&) {
            }
        }
    }
    return n;
}

// ---- Aravis's engine ----
struct SArv {
    ArvDevice* device = nullptr;
    ArvGc* gc = nullptr;
    std::vector<std::string> names;
    ~SArv() {
        if (device) g_object_unref(device);
    }
};

void ArvLoad(SArv& s, const std::string& xml, const std::vector<uint8_t>& image) {
    s.device = KzrMemoryDeviceNew(xml, image.size());
    KzrMemoryDeviceLoad(s.device, image);
    s.gc = arv_device_get_genicam(s.device);
}

int ArvReadAll(SArv& s, const std::vector<std::string>& names) {
    int n = 0;
    for (const std::string& name : names) {
        ArvGcNode* node = arv_gc_get_node(s.gc, name.c_str());
        if (!node) continue;
        GError* error = nullptr;
        if (ARV_IS_GC_ENUMERATION(node))
            (void)arv_gc_enumeration_get_string_value(ARV_GC_ENUMERATION(node), &error);
        else if (ARV_IS_GC_INTEGER(node))
            (void)arv_gc_integer_get_value(ARV_GC_INTEGER(node), &error);
        else if (ARV_IS_GC_FLOAT(node))
            (void)arv_gc_float_get_value(ARV_GC_FLOAT(node), &error);
        else if (ARV_IS_GC_BOOLEAN(node))
            (void)arv_gc_boolean_get_value(ARV_GC_BOOLEAN(node), &error);
        else if (ARV_IS_GC_STRING(node))
            (void)arv_gc_string_get_value(ARV_GC_STRING(node), &error);
        else
            continue;
        if (error)
            g_error_free(error);
        else
            ++n;
    }
    return n;
}

void Row(const char* what, double ours, double theirs, const char* unit) {
    std::printf("%-44s ours %10.3f %-3s Aravis %10.3f %-3s ratio %5.2f\n", what, ours, unit, theirs,
                unit, theirs > 0 ? ours / theirs : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : KZR_ENGINE_CAMERAS;
    const std::string xml = ReadAll(dir + "/bench.xml");
    const std::string memText = ReadAll(dir + "/bench.mem");
    const std::string formulasXml = ReadAll(dir + "/eng_formulas.xml");
    const std::string formulasMem = ReadAll(dir + "/eng_formulas.mem");
    if (xml.empty() || formulasXml.empty()) {
        std::fprintf(stderr, "no generated descriptions in %s\n", dir.c_str());
        return 1;
    }
    const std::vector<uint8_t> image(memText.begin(), memText.end());
    const std::vector<uint8_t> formulasImage(formulasMem.begin(), formulasMem.end());
    const int runs = 5;
    std::printf(
        "Engine benchmark: %zu byte description; ratio = ours / Aravis, "
        "below 1.0 means ours is faster or smaller\n",
        xml.size());

    try {
        // Loading.
        const double ourLoad = Best(runs, [&] {
            const auto t = Clock::now();
            SOurs s = OurLoad(xml, image);
            return Seconds(t);
        });
        const double arvLoad = Best(runs, [&] {
            const auto t = Clock::now();
            SArv s;
            ArvLoad(s, xml, image);
            return Seconds(t);
        });
        Row("load the description", ourLoad * 1e3, arvLoad * 1e3, "ms");

        // The features both engines read: the readable features of our map, by name.
        std::vector<std::string> names;
        {
            SOurs s = OurLoad(xml, image);
            NodeList_t nodes;
            s.map->GetNodes(nodes);
            for (INode* node : nodes)
                if (node->IsFeature() && IsReadable(node->GetAccessMode()) &&
                    node->GetPrincipalInterfaceType() != intfICategory)
                    names.push_back(node->GetName().str());
        }
        int ourCount = 0, arvCount = 0;
        double ourCold = 1e30, ourWarm = 1e30, arvCold = 1e30, arvWarm = 1e30;
        for (int r = 0; r < runs; ++r) {
            SOurs s = OurLoad(xml, image);
            // Both engines look every feature up by name, as a host does.
            std::vector<gcstring> keys(names.begin(), names.end());
            auto readAll = [&] {
                int n = 0;
                for (const gcstring& key : keys) try {
                        (void)dynamic_cast<IValue*>(s.map->GetNode(key))->ToString();
                        ++n;
                    } catch (const GenICam::GenericException&) {
                    }
                return n;
            };
            auto t = Clock::now();
            ourCount = readAll();
            ourCold = std::min(ourCold, Seconds(t));
            t = Clock::now();
            readAll();
            ourWarm = std::min(ourWarm, Seconds(t));

            SArv a;
            ArvLoad(a, xml, image);
            t = Clock::now();
            arvCount = ArvReadAll(a, names);
            arvCold = std::min(arvCold, Seconds(t));
            t = Clock::now();
            ArvReadAll(a, names);
            arvWarm = std::min(arvWarm, Seconds(t));
        }
        std::printf("features read: ours %d, Aravis %d (of %zu)\n", ourCount, arvCount,
                    names.size());
        Row("read every feature, cold (per feature)", ourCold / names.size() * 1e6,
            arvCold / names.size() * 1e6, "us");
        Row("read every feature, cached (per feature)", ourWarm / names.size() * 1e6,
            arvWarm / names.size() * 1e6, "us");

        // Write and read an integer through an IntConverter over an IntSwissKnife.
        {
            const int loops = 20000;
            SOurs s = OurLoad(formulasXml, formulasImage);
            auto* ours = dynamic_cast<IInteger*>(s.map->GetNode("F0Binning"));
            SArv a;
            ArvLoad(a, formulasXml, formulasImage);
            auto* theirs = ARV_GC_INTEGER(arv_gc_get_node(a.gc, "F0Binning"));
            if (!ours || !theirs) throw std::runtime_error("no F0Binning");
            int64_t sumOurs = 0, sumTheirs = 0;
            const double ourT = Best(runs, [&] {
                const auto t = Clock::now();
                for (int i = 0; i < loops; ++i) {
                    ours->SetValue(4 + (i & 7) * 4);
                    sumOurs += ours->GetValue();
                }
                return Seconds(t);
            });
            const double arvT = Best(runs, [&] {
                const auto t = Clock::now();
                for (int i = 0; i < loops; ++i) {
                    arv_gc_integer_set_value(theirs, 4 + (i & 7) * 4, nullptr);
                    sumTheirs += arv_gc_integer_get_value(theirs, nullptr);
                }
                return Seconds(t);
            });
            Row("write+read through a converter (per pair)", ourT / loops * 1e6, arvT / loops * 1e6,
                "us");
            std::printf("converter sums: ours %lld, Aravis %lld\n", static_cast<long long>(sumOurs),
                        static_cast<long long>(sumTheirs));
        }

        // Heap kept per loaded description (after one full read).
        {
            const size_t before = HeapInUse();
            SOurs s = OurLoad(xml, image);
            OurReadAll(s);
            const size_t ours = HeapInUse() - before;
            s = SOurs();
            const size_t middle = HeapInUse();
            SArv a;
            ArvLoad(a, xml, image);
            ArvReadAll(a, names);
            const size_t theirs = HeapInUse() - middle;
            Row("heap per loaded description", ours / 1048576.0, theirs / 1048576.0, "MiB");
        }
    } catch (const GenICam::GenericException& e) {
        std::fprintf(stderr, "engine error: %s\n", e.GetDescription());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
