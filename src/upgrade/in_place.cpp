// morvanfn-upgrade check DATABASE, switch DATABASE: a database as it is, a
// file opened by the engine embedded or a server's (tool.h).
//
// No trigger of the database fires (the attachment asks for none), and
// check's transactions are read-only: it changes nothing.  A stop (Ctrl-C,
// SIGTERM, SIGHUP, the console closing) cancels what the engine is doing,
// rolls back what is not committed, and says what was.
#include "tool.h"

#include <ibase.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace upgrade {

namespace {

// Cancels the engine's work on the attachment it watches once a stop is
// asked for: the statement running fails with isc_cancelled.
class Canceller {
public:
    Canceller() : thread_([this] { run(); }) {}
    Canceller(const Canceller &) = delete;
    Canceller &operator=(const Canceller &) = delete;
    ~Canceller()
    {
        {
            std::lock_guard<std::mutex> g(mutex_);
            done_ = true;
            watched_ = nullptr;
        }
        thread_.join();
    }
    void watch(Attachment *db)
    {
        std::lock_guard<std::mutex> g(mutex_);
        watched_ = db;
    }

private:
    void run()
    {
        for (bool cancelled = false;;) {
            {
                std::lock_guard<std::mutex> g(mutex_);
                if (done_)
                    return;
                if (!cancelled && watched_ && stop_requested()) {
                    watched_->cancel();
                    cancelled = true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    std::mutex mutex_;
    Attachment *watched_ = nullptr;
    bool done_ = false;
    std::thread thread_;
};

void stopped(const Switched &s)
{
    std::string what = "stopped: ";
    if (s.switched == 0)
        what += "nothing was committed";
    else
        what += "the switch of " + std::to_string(s.switched) + " function(s) was committed" +
                (s.indexes_to_build.empty() ? ""
                                            : "; expression indexes on them are inactive until built: run switch again");
    complain(what);
}

} // namespace

int in_place(const Options &options, const Hooks &hooks)
{
    if (options.arguments.size() != 1)
        throw Failure(options.command + " takes DATABASE");
    const std::string &database = options.arguments[0];
    const bool check_only = options.command == "check";
    const Layout layout = find_layout(options);
    Target target;
    RunRoot run;
    std::optional<FileId> id;
    std::string name = database, user = environment("ISC_USER"), password;
    if (remote(database)) {
        password = environment("ISC_PASSWORD");
        if (user.empty())
            throw Failure("a server's database needs ISC_USER and ISC_PASSWORD");
    } else {
        open_target(target, database);
        const auto e = target.dir->entry(target.name);
        if (!e || !e->regular)
            throw Failure(e ? target.path + " is not a plain file (a link is not followed)" : "no database " + target.path);
        id = e->id;
        make_run_root(run, layout, target.dir->path());
        use_run_root(run.path);
        name = target.path;
        if (user.empty())
            user = "SYSDBA";
    }
    Step step(layout, run.path, hooks);
    Client &client = step.client;
    // The engine ends with the command, whatever happens.
    struct Shutdown {
        Client &c;
        ~Shutdown() { c.shutdown_quietly(); }
    } shutdown{client};
    auto attach = [&](unsigned dialect) {
        return id ? attach_checked(client, name, *id, user, dialect, check_only)
                  : client.attach(name, user, password, dialect, check_only);
    };
    Switched s;
    Canceller canceller;
    try {
        Attachment probe = attach(3);
        const std::string engine = probe.engine_version();
        say("engine: " + engine + (remote(database) ? "" : " (embedded)"));
        const unsigned dialect = probe.database_dialect();
        probe.detach();
        Attachment db = attach(dialect);
        struct Watching {
            Canceller &c;
            ~Watching() { c.watch(nullptr); }
        } watching{canceller};
        canceller.watch(&db);
        auto out = [](const std::string &line) { say(line); };
        int status = exit_done;
        if (!check_only) {
            say("switching the UDFs declared on morvanfn to morvanfn_udr:");
            run_switch(db, out, s);
            if (s.refused || s.left)
                status = s.switched == 0 ? exit_failed : exit_attention;
            if (!build_indexes(db, s.indexes_to_build, dialect, out) && status == exit_done)
                status = exit_attention;
        }
        // An index on this library's UDR functions left inactive: by a
        // switch that was stopped before it built it, or by the DBA.
        for (const std::string &index : inactive_on_udr(db)) {
            say("index " + index + " on a function of morvanfn_udr is inactive: ALTER INDEX " + quoted(index) +
                " ACTIVE builds it with the UDR");
            if (status == exit_done)
                status = exit_attention;
        }
        say("check:");
        if (report_check(db, out) && status == exit_done)
            status = exit_attention;
        const bool others = report_other_udfs(db, out, engine);
        if (others && status == exit_done)
            status = exit_attention;
        advise_udf_access(others || udfs_on_morvanfn(db) > 0, out, engine);
        db.detach();
        if (stop_requested())
            throw Stopped();
        return status;
    } catch (const Stopped &) {
        stopped(s);
        return exit_failed;
    } catch (const EngineError &) {
        if (!stop_requested())
            throw;
        stopped(s);
        return exit_failed;
    }
}

} // namespace upgrade
