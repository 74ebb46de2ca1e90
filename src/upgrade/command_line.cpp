// morvanfn-upgrade: the command line, and which command runs (tool.h).
#include "tool.h"

#include <iostream>

namespace upgrade {

const char *const program = "morvanfn-upgrade";

namespace {

const char *const usage =
    "usage: morvanfn-upgrade [OPTION ...] COMMAND ...\n"
    "  restore BACKUP [VOLUME ...] DATABASE\n"
    "                            restore a backup made by any earlier server (its volumes in\n"
    "                            order) into DATABASE, a new file, with every declaration on\n"
    "                            this library switched to the UDR (it never replaces a file)\n"
    "  check DATABASE            say what each declaration on this library is (changes nothing)\n"
    "  switch DATABASE           switch the UDFs declared on this library to the UDR, in place\n"
    "options:\n"
    "  --firebird DIR   the Firebird whose engine and client to use: its root, holding plugins/\n"
    "                   (default: " MORVANFN_DEFAULT_FIREBIRD ")\n"
    "  --owner NAME     restore: the database's owner (default: the owner of its objects)\n"
    "  --udr FILE       this library's UDR module (default: DIR/plugins/udr/" MORVANFN_UDR_NAME ")\n"
    "  --               the end of the options: a name after it may start with -\n"
    "A DATABASE to check or switch is a file, opened by the engine embedded (no server),\n"
    "or a server's (inet://host/path, host:path) with ISC_USER and ISC_PASSWORD.\n"
    "Exit status: 0 done; 1 nothing made or changed, and why; 2 done, with something named\n"
    "for you.\n";

} // namespace

void say(const std::string &text)
{
    std::cout << program << ": " << visible(text) << std::endl;
}

void complain(const std::string &text)
{
    std::cerr << program << ": " << visible(text) << std::endl;
}

int main(int argc, char **argv, const Hooks &hooks)
{
    Options options;
    std::vector<std::string> step;
    bool in_step = false, options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw Failure(a + " needs a value");
            return argv[++i];
        };
        try {
            if (in_step) {
                step.push_back(a);
            } else if (!options_end && a == "--") {
                options_end = true;
            } else if (!options_end && a == "--firebird") {
                options.firebird = value();
            } else if (!options_end && a == "--owner") {
                options.owner = value();
            } else if (!options_end && a == "--udr") {
                options.udr = value();
            } else if (!options_end && a == "--unseen") {
                options.unseen.push_back(value());
            } else if (!options_end && a == "--step") {
                in_step = true;
            } else if (!options_end && (a == "--help" || a == "-h")) {
                std::cout << usage;
                return exit_done;
            } else if (!options_end && a.size() > 1 && a[0] == '-') {
                complain("unknown option " + a);
                std::cerr << usage;
                return exit_failed;
            } else if (options.command.empty()) {
                options.command = a;
            } else {
                options.arguments.push_back(a);
            }
        } catch (const Failure &e) {
            complain(e.what());
            return exit_failed;
        }
    }
    try {
        if (in_step)
            return run_step(step, options, hooks);
        if (options.command.empty()) {
            std::cerr << usage;
            return exit_failed;
        }
        catch_stop_signals();
        if (options.command == "restore")
            return restore(options);
        if (options.command == "check" || options.command == "switch")
            // The engine ran in this process: it ends here, as a step does.
            end_process(in_place(options, hooks));
        complain("no command " + options.command);
        std::cerr << usage;
        return exit_failed;
    } catch (const Stopped &) {
        complain("stopped: nothing was made");
    } catch (const EngineError &e) {
        complain("FAILED: " + std::string(e.what()) + (e.sqlstate.empty() ? "" : " (SQLSTATE " + e.sqlstate + ")"));
    } catch (const std::exception &e) {
        complain("FAILED: " + std::string(e.what()));
    }
    return exit_failed;
}

} // namespace upgrade
