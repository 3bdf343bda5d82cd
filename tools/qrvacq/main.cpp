// qrvacq: drives the camera plug-in's entry points from the command line, loading
// the plug-in at run time as a machine-vision host does.
#include <CLI/CLI.hpp>

#include <cstdlib>
#include <fstream>
#include <iostream>

#include "Commands.h"
#include "PluginApi.h"
#include "Shell.h"
#include "Text.h"

namespace {

using namespace qrvacq;

struct Options {
    std::string pluginPath;
    std::string scenario;
    bool scenarioGiven = false;
    std::string configPath;
    bool json = false;
    std::string serial;
    std::vector<std::string> features;
    std::vector<std::string> assignments;
    std::string command;
    std::string registerName;
    int readCount = -1;
    std::string writeHex;
    GrabOptions grab;
    std::string script;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{"qrvacq: loads the QRVAcqGenIcam camera plug-in and calls its entry points"};
    app.require_subcommand(1);
    app.add_option("--plugin", options.pluginPath,
                   "plug-in library (default: libQRVAcqGenIcam.so in ../lib beside this program)");
    app.add_option(
        "--sim", options.scenario,
        "simulated cameras for this run: a scenario JSON file or \"demo\" (sets KZR_SIM)");
    app.add_option("--config", options.configPath,
                   "camera configuration file (.cam) passed to Open");

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

    CLI::App* exec = app.add_subcommand("exec", "run a command feature (ExecuteCMD)");
    exec->add_option("serial", options.serial, "camera serial number")->required();
    exec->add_option("command", options.command, "command feature name")->required();

    CLI::App* reg = app.add_subcommand("reg", "read or write a register (Get/SetRegisterData)");
    reg->add_option("serial", options.serial, "camera serial number")->required();
    reg->add_option("name", options.registerName, "register feature name")->required();
    CLI::Option* read = reg->add_option("--read", options.readCount, "read N bytes and dump them")
                            ->check(CLI::NonNegativeNumber);
    reg->add_option("--write", options.writeHex, "write these bytes (hex digits)")->excludes(read);

    CLI::App* grab = app.add_subcommand("grab", "acquire frames, optionally into PNG files");
    grab->add_option("serial", options.serial, "camera serial number")->required();
    grab->add_option("-n,--count", options.grab.count, "number of frames")
        ->check(CLI::PositiveNumber);
    grab->add_option("--timeout", options.grab.timeoutMs, "time-out per frame in ms");
    grab->add_flag("--chunks", options.grab.chunks, "grab with chunk data (GrabImageEx)");
    grab->add_option("-o,--output", options.grab.outDir,
                     "directory for frame_NNNN.png (and frame_NNNN.chunks.bin)");
    grab->add_option("--start-arg", options.grab.startArg, "StartAcquire's start argument");

    CLI::App* shell = app.add_subcommand("shell", "run entry-point calls line by line");
    shell->add_option("file", options.script, "script file (default: standard input)");

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
    if (reg->parsed() && options.readCount < 0 && options.writeHex.empty()) {
        std::cerr << "qrvacq: reg needs --read N or --write HEX\n";
        return kExitUsage;
    }

    // The camera library reads KZR_SIM when the plug-in initialises it on load.
    if (options.scenarioGiven) setenv("KZR_SIM", options.scenario.c_str(), 1);
    if (options.pluginPath.empty()) options.pluginPath = DefaultPluginPath();
    Plugin plugin;
    std::string error;
    if (!plugin.Load(options.pluginPath, error)) {
        std::cerr << "qrvacq: " << error << "\n";
        return kExitUsage;
    }
    const PluginApi& api = plugin.Api();
    const CameraTarget target{options.serial, options.configPath};

    if (list->parsed()) return RunList(api, options.json);
    if (cards->parsed()) return RunCards(api, options.json);
    if (get->parsed()) return RunGet(api, target, options.features, options.json);
    if (set->parsed()) return RunSet(api, target, options.assignments, options.json);
    if (exec->parsed()) return RunExec(api, target, options.command);
    if (reg->parsed()) {
        return RunReg(api, target, options.registerName, options.readCount, options.writeHex);
    }
    if (grab->parsed()) return RunGrab(api, target, options.grab);
    Shell interpreter(api, std::cout, std::cerr);
    return interpreter.Run(scriptFile.is_open() ? static_cast<std::istream&>(scriptFile)
                                                : std::cin);
}
