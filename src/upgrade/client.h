// morvanfn-upgrade: Firebird's client library, loaded at run time.
//
// The tool talks to the engine through Firebird's public interfaces alone
// (fb_get_master_interface and what it hands out), from whichever client
// library the DBA's Firebird has, so one program serves Firebird 3, 4, 5 and 6.
// Every value in a statement is a parameter; the caller quotes names
// (quoted()).  An engine error keeps its status vector: codes and their
// string arguments are read from it, never from its text.
#ifndef MORVANFN_UPGRADE_CLIENT_H
#define MORVANFN_UPGRADE_CLIENT_H

#include <firebird/Interface.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace upgrade {

// A failure the engine reported: its status vector as codes, each with the
// string arguments that follow it, and the engine's own text.
class EngineError : public std::runtime_error {
public:
    struct Code {
        intptr_t code;
        std::vector<std::string> arguments;
    };
    EngineError(const std::string &text, std::vector<Code> vector, std::string state)
        : std::runtime_error(text), codes(std::move(vector)), sqlstate(std::move(state))
    {
    }
    const Code *find(intptr_t code) const;
    bool has(intptr_t code) const { return find(code) != nullptr; }
    std::vector<Code> codes;
    std::string sqlstate;
};

// A failure of the tool's own, with what to do about it.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "name" with every " doubled: a name of any content as SQL reads it.
std::string quoted(const std::string &name);

// A user's name as CREATE USER must write it: quoted where its case or
// characters need it ("Alice_B"), plain otherwise.
std::string user_in_sql(const std::string &user);
// A user's exact name (as the catalogue spells it) as an attachment's
// parameters must carry it: the engine reads a bare name in capitals and a
// quoted one as it stands.
std::string login(const std::string &exact);
// The same for the service manager.  Firebird 3 to 5 strip the quotes and
// hand the bare name on to gbak or to the properties utility ("-user NAME"),
// which capitalise it: there the name goes quoted twice (a name with a
// blank cannot pass: it is split there).  Later engines hand on the name as
// it came (passes_quoted).
std::string service_login(const std::string &exact, bool passes_quoted);

using Value = std::optional<std::string>;
using Row = std::vector<Value>;

class Client;

// A parameter buffer (DPB, SPB) built with the client's own builder.
class Parameters {
public:
    Parameters(Client &client, unsigned kind);
    Parameters(const Parameters &) = delete;
    Parameters &operator=(const Parameters &) = delete;
    ~Parameters();
    Parameters &tag(unsigned char tag);
    Parameters &integer(unsigned char tag, int value);
    // A tag whose value is one byte (isc_spb_prp_access_mode, ...).
    Parameters &byte(unsigned char tag, unsigned char value);
    Parameters &text(unsigned char tag, const std::string &value);
    unsigned length();
    const unsigned char *bytes();

private:
    Client &client_;
    Firebird::IXpbBuilder *builder_;
};

// One attachment, with a transaction of its own for what it runs.
class Attachment {
public:
    Attachment(Client &client, Firebird::IAttachment *attachment, unsigned dialect, bool read_only);
    Attachment(const Attachment &) = delete;
    Attachment &operator=(const Attachment &) = delete;
    Attachment(Attachment &&other) noexcept
        : client_(other.client_), attachment_(other.attachment_), transaction_(other.transaction_),
          dialect_(other.dialect_), read_only_(other.read_only_)
    {
        other.attachment_ = nullptr;
        other.transaction_ = nullptr;
    }
    ~Attachment();
    // Rows of a statement, every column read as text (NULL as nullopt);
    // params are texts, converted by the engine to what each place takes.
    std::vector<Row> query(const std::string &sql, const std::vector<std::string> &params = {});
    // The same, each row handed to each as it comes: the rows before a
    // failure are seen.
    void each(const std::string &sql, const std::vector<std::string> &params, const std::function<void(const Row &)> &each);
    void execute(const std::string &sql, const std::vector<std::string> &params = {});
    void commit();
    void rollback();
    // isc_info_firebird_version: the engine's own version string.
    std::string engine_version();
    unsigned database_dialect();
    // isc_info_db_read_only: the database is read-only.
    bool database_read_only();
    void detach();
    // From another thread: the statement running fails with isc_cancelled.
    void cancel();

private:
    Firebird::ITransaction *transaction();
    Client &client_;
    Firebird::IAttachment *attachment_;
    Firebird::ITransaction *transaction_ = nullptr;
    unsigned dialect_;
    bool read_only_;
};

// The service manager: one action at a time, its output read line by line.
class Service {
public:
    Service(Client &client, Firebird::IService *service) : client_(client), service_(service) {}
    Service(const Service &) = delete;
    Service &operator=(const Service &) = delete;
    ~Service();
    void start(Parameters &spb);
    // The next line of output, waiting a second at most: nullopt when none
    // came in that time; throws EngineError when the action failed; sets
    // finished when it is over.  Throws Failure when the action asks for
    // input (a restore whose backup file ended early): nothing here ever
    // gives it any.
    std::optional<std::string> next_line(bool &finished);
    void detach();

private:
    Client &client_;
    Firebird::IService *service_;
    std::string pending_;
};

class Client {
public:
    // Loads the client library at path (its dependencies from beside it).
    explicit Client(const std::string &library);
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;
    ~Client();
    // No trigger of the database fires on it (isc_dpb_no_db_triggers: no
    // ON CONNECT, transaction or DDL trigger).  read_only: its transactions
    // are read-only and the engine collects no garbage through it, so that
    // it writes nothing.  Others wait for a lock ten seconds at most.
    Attachment attach(const std::string &database, const std::string &user, const std::string &password, unsigned dialect,
                      bool read_only = false);
    Service services(const std::string &user, const std::string &password);
    // Ends every attachment and service of this process (the embedded
    // engine's restore with them).
    void shutdown();
    // The same where no error may escape (a destructor's).
    void shutdown_quietly();
    void *module() const { return module_; }

    // The status wrapper every call goes through, and the error it holds.
    [[noreturn]] void raise(Firebird::IStatus *status);
    Firebird::IMaster *master = nullptr;
    Firebird::IProvider *provider = nullptr;
    Firebird::IUtil *util = nullptr;

private:
    void *module_ = nullptr;
};

using Status = Firebird::CheckStatusWrapper;

// Runs fn with a fresh status; an error it leaves becomes an EngineError.
template <typename Fn> auto call(Client &client, Fn fn)
{
    Firebird::IStatus *status = client.master->getStatus();
    struct Dispose {
        Firebird::IStatus *s;
        ~Dispose() { s->dispose(); }
    } dispose{status};
    Status wrapper(status);
    auto checked = [&] {
        if (status->getState() & Firebird::IStatus::STATE_ERRORS)
            client.raise(status);
    };
    if constexpr (std::is_void_v<decltype(fn(&wrapper))>) {
        fn(&wrapper);
        checked();
    } else {
        auto result = fn(&wrapper);
        checked();
        return result;
    }
}

} // namespace upgrade

#endif
