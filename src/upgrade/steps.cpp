// morvanfn-upgrade: the steps of a restore (tool.h).
//
// A restore runs in steps, each a child process of this program that loads
// the engine with the run's private configuration: the engine reads its
// configuration once per process, and a step that must stop is ended for
// sure by ending its process.  The steps speak to this, the parent, in
// lines on their standard output, each marked by a leading \x01, then TAG and
// fields separated by tabs (anything else a step writes, the engine's words
// or its own failure, is shown as it is, made visible()):
//
//   say TEXT                 a line for the DBA
//   progress TABLE ROWS NAME the restore's progress, as the service reports it
//   value KEY TEXT ...       something found, for the parent's decisions
//   denied PATH              the engine refused to look for a UDF module there
//
// Their exit status: 0 done, 2 done with something for the DBA, 3 denied,
// 1 failed (said on standard error).
#include "tool.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

namespace upgrade {

namespace {
const char mark = '\x01';
}

std::string escaped(const std::string &s)
{
    std::string e;
    for (char c : s) {
        if (c == '\\')
            e += "\\\\";
        else if (c == '\t')
            e += "\\t";
        else if (c == '\n')
            e += "\\n";
        else if (c == '\r')
            e += "\\r";
        else
            e += c;
    }
    return e;
}

std::vector<std::string> fields(const std::string &line)
{
    std::vector<std::string> f(1);
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            f.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char n = line[++i];
            f.back() += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            f.back() += c;
        }
    }
    return f;
}

void emit(std::initializer_list<std::string> parts)
{
    std::string line(1, mark);
    for (const std::string &p : parts)
        line += (line.size() == 1 ? "" : "\t") + escaped(p);
    std::cout << line << std::endl;
}

void step_says(const std::string &text)
{
    emit({"say", text});
}

std::string or_null(const Value &v)
{
    return v ? *v : "<null>";
}

std::string thousands(unsigned long long n)
{
    std::string s = std::to_string(n);
    for (int i = int(s.size()) - 3; i > 0; i -= 3)
        s.insert(size_t(i), ",");
    return s;
}

// --- the parent's side ------------------------------------------------------------

void Progress::update(unsigned table, unsigned long long rows, const std::string &name)
{
    table_ = table, rows_ = rows, name_ = name;
    const auto now = std::chrono::steady_clock::now();
    if (terminal_) {
        if (now - shown_ < std::chrono::milliseconds(200))
            return;
        const unsigned width = 30, done = tables_ ? std::min(width, (table_ - (table_ ? 1 : 0)) * width / tables_) : 0;
        const std::string line = "\r  [" + std::string(done, '#') + std::string(width - done, '.') + "] table " +
                                 std::to_string(table_) + " of " + std::to_string(tables_) + ", " +
                                 visible(name_.substr(0, 31)) + ": " + thousands(rows_) + " rows";
        std::cerr << line << std::string(line.size() < 100 ? 100 - line.size() : 0, ' ') << std::flush;
        shown_ = now;
    } else if (now - shown_ >= std::chrono::seconds(5)) {
        say("restoring: table " + std::to_string(table_) + " of " + std::to_string(tables_) + " (" + name_ + "), " +
            thousands(rows_) + " rows of it so far");
        shown_ = now;
    }
}

void Progress::done()
{
    if (terminal_ && table_)
        std::cerr << "\r  [" << std::string(30, '#') << "] " << tables_ << " tables" << std::string(70, ' ') << "\n";
}

std::string StepResult::first(const std::string &key) const
{
    const auto i = values.find(key);
    return i == values.end() || i->second.empty() ? "" : i->second[0];
}

std::vector<std::vector<std::string>> StepResult::all(const std::string &key) const
{
    std::vector<std::vector<std::string>> found;
    for (auto i = values.lower_bound(key); i != values.upper_bound(key); ++i)
        found.push_back(i->second);
    return found;
}

StepResult run_child(const std::vector<std::string> &arguments, Progress *progress)
{
    StepResult result;
    Child child(arguments);
    for (;;) {
        if (stop_requested()) {
            child.kill();
            throw Stopped();
        }
        bool ended = false;
        const auto line = child.line(ended);
        if (ended)
            break;
        if (!line)
            continue;
        if (line->empty() || (*line)[0] != mark) {
            if (!line->empty())
                std::cerr << visible(*line) << std::endl;
            continue;
        }
        const std::vector<std::string> f = fields(line->substr(1));
        if (f[0] == "say" && f.size() > 1)
            say(f[1]);
        else if (f[0] == "progress" && f.size() > 3 && progress)
            progress->update(unsigned(std::atoi(f[1].c_str())), std::strtoull(f[2].c_str(), nullptr, 10), f[3]);
        else if (f[0] == "value" && f.size() > 1)
            result.values.emplace(f[1], std::vector<std::string>(f.begin() + 2, f.end()));
        else if (f[0] == "denied" && f.size() > 1)
            result.denied = f[1];
    }
    result.status = child.wait();
    if (stop_requested())
        throw Stopped();
    // A step that ended without a word: say how (a signal, say).
    const auto step = std::find(arguments.begin(), arguments.end(), "--step");
    const std::string name = step != arguments.end() && step + 1 != arguments.end() ? step[1] : "?";
    if (result.status == -1)
        say("the step " + name + " ended, and how could not be known");
    else if (result.status != exit_done && result.status != exit_attention && result.status != exit_denied &&
             result.status != exit_failed)
        say("the step " + name + " ended with " + Child::in_words(result.status));
    return result;
}

std::vector<std::string> step_arguments(const Layout &layout, std::vector<std::string> step,
                                        const std::vector<std::string> &unseen)
{
    std::vector<std::string> a = {"--firebird", layout.root, "--udr", layout.udr};
    for (const std::string &dir : unseen) {
        a.push_back("--unseen");
        a.push_back(dir);
    }
    a.push_back("--step");
    a.insert(a.end(), step.begin(), step.end());
    return a;
}

// --- the step's side ---------------------------------------------------------------

Step::Step(const Layout &layout, const std::string &run, const Hooks &hooks) : client(layout.client), provider(layout.provider)
{
    if (hooks.client_loaded)
        hooks.client_loaded(client.module(), run.c_str());
}

Service Step::services(const std::string &exact_user)
{
    return client.services(service_login(exact_user, firebird6_or_later(provider)), "");
}

std::string id_text(const FileId &id)
{
    return std::to_string(id.device) + ":" + std::to_string(id.inode);
}

FileId id_from(const std::string &text)
{
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        throw Failure("internal: a step was given no file identity");
    return {std::strtoull(text.substr(0, colon).c_str(), nullptr, 10), std::strtoull(text.c_str() + colon + 1, nullptr, 10)};
}

Attachment attach_checked(Client &client, const std::string &path, const FileId &id, const std::string &user,
                          unsigned dialect, bool read_only)
{
    const auto before = identity_of(path);
    if (!before || *before != id)
        throw Failure(path + " is no longer the file this run works on (moved, or replaced by another file or a "
                             "link): nothing was done to it");
    Attachment db = client.attach(path, user, "", dialect, read_only);
    if (!engine_holds(id)) {
        db.detach();
        throw Failure(path + " was replaced while the engine opened it: it was left at once, nothing done");
    }
    return db;
}

int run_step(const std::vector<std::string> &a, const Options &options, const Hooks &hooks)
{
    if (a.size() < 2)
        throw Failure("internal: a step needs a name and the run's root");
    const Layout layout = find_layout(options);
    for (const std::string &dir : options.unseen)
        if (const auto why = hide_directory(dir))
            throw Failure("the directory " + dir + ": " + *why);
    use_run_root(a[1]);
    // The engine looks for a library named "lib" + a path relative to the
    // working directory: the run's root, where lib/ has none.
    change_directory(a[1]);
    int status = exit_failed;
    try {
        Step step(layout, a[1], hooks);
        const size_t want = a[0] == "meta" ? 5 : a[0] == "restore" ? 6 : a[0] == "finish" ? 6 : 0;
        if (want == 0)
            throw Failure("no step " + a[0]);
        if (a.size() < want)
            throw Failure("internal: the step " + a[0] + " needs " + std::to_string(want) + " arguments");
        status = a[0] == "meta" ? step_meta(step, a) : a[0] == "restore" ? step_restore(step, a) : step_finish(step, a);
    } catch (const std::exception &e) {
        std::cerr << program << ": FAILED: " << e.what() << std::endl;
    }
    // Every attachment is detached by now, and a service has detached from
    // its database before it says it has finished; but its thread may still
    // be running engine code, and returning from main let an exit handler
    // (the trace plugin's) unload the engine under it, as would a shutdown
    // (SIGSEGV, now and then, with Debian's 3.0.11).  The process ends here,
    // its output flushed, running no exit handler.
    end_process(status);
}

} // namespace upgrade
