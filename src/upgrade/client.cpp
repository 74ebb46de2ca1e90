// morvanfn-upgrade: Firebird's client library, loaded at run time (client.h).
#include "client.h"

#include <ibase.h>

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace upgrade {

using namespace Firebird;

namespace {

void *load_library(const std::string &path)
{
#ifdef _WIN32
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
#else
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void *symbol(void *module, const char *name)
{
#ifdef _WIN32
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
#else
    return dlsym(module, name);
#endif
}

std::string load_error()
{
#ifdef _WIN32
    return "Windows error " + std::to_string(GetLastError());
#else
    const char *e = dlerror();
    return e ? e : "unknown error";
#endif
}

unsigned little_endian(const unsigned char *p, unsigned bytes)
{
    unsigned value = 0;
    for (unsigned i = 0; i < bytes; ++i)
        value |= unsigned(p[i]) << (8 * i);
    return value;
}

const unsigned CS_UTF8 = 4;

// Ends obj with end (detach, free, rollback) where no error may escape, a
// destructor's: if the engine refuses, the handle is released all the same.
template <typename T, typename End> void end_quietly(Client &client, T *obj, End end)
{
    IStatus *raw = client.master->getStatus();
    Status s(raw);
    end(obj, &s);
    if (raw->getState() & IStatus::STATE_ERRORS)
        obj->release();
    raw->dispose();
}

// Releases an interface the engine handed out however the scope is left.
template <typename T> struct Released {
    T *p;
    explicit Released(T *x) : p(x) {}
    Released(const Released &) = delete;
    Released &operator=(const Released &) = delete;
    ~Released()
    {
        if (p)
            p->release();
    }
};

} // namespace

const EngineError::Code *EngineError::find(intptr_t code) const
{
    for (const Code &c : codes)
        if (c.code == code)
            return &c;
    return nullptr;
}

std::string quoted(const std::string &name)
{
    std::string q = "\"";
    for (char c : name) {
        q += c;
        if (c == '"')
            q += '"';
    }
    return q + "\"";
}

std::string login(const std::string &exact)
{
    return quoted(exact);
}

std::string user_in_sql(const std::string &user)
{
    // A plain name is written as it is (the engine reads it in capitals);
    // any other, quoted, so that its case and characters survive.
    bool plain = !user.empty() && user[0] >= 'A' && user[0] <= 'Z';
    for (char c : user)
        plain = plain && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$');
    return plain ? user : quoted(user);
}

std::string service_login(const std::string &exact, bool passes_quoted)
{
    if (passes_quoted || user_in_sql(exact) == exact)
        return user_in_sql(exact);
    if (exact.find(' ') != std::string::npos)
        throw Failure("the user " + quoted(exact) + " cannot be named to this Firebird's service manager, which splits "
                      "a name at its blanks: name another owner with --owner NAME");
    return quoted(quoted(exact));
}

// --- Client -----------------------------------------------------------------

Client::Client(const std::string &library)
{
    module_ = load_library(library);
    if (!module_)
        throw Failure("cannot load Firebird's client library " + library + ": " + load_error());
    // Each as the headers declare it: __stdcall on 32-bit Windows.
    using GetMaster = decltype(&fb_get_master_interface);
    auto get_master = reinterpret_cast<GetMaster>(symbol(module_, "fb_get_master_interface"));
    if (!get_master)
        throw Failure(library + " is not Firebird 3 or later's client library (no fb_get_master_interface)");
    master = get_master();
    util = master->getUtilInterface();
    provider = master->getDispatcher();
}

Client::~Client()
{
    if (provider)
        provider->release();
    // The library stays loaded: the engine's threads may outlive this.
}

void Client::raise(IStatus *status)
{
    std::vector<EngineError::Code> codes;
    std::string sqlstate;
    // A text before any code (a service hands over gbak's errors as
    // interpreted texts) is kept under code 0.
    auto argument = [&](std::string text) {
        if (codes.empty())
            codes.push_back({0, {}});
        codes.back().arguments.push_back(std::move(text));
    };
    for (const intptr_t *v = status->getErrors(); *v != isc_arg_end;) {
        switch (v[0]) {
        case isc_arg_gds:
        case isc_arg_warning:
            codes.push_back({v[1], {}});
            v += 2;
            break;
        case isc_arg_cstring:
            argument(std::string(reinterpret_cast<const char *>(v[2]), size_t(v[1])));
            v += 3;
            break;
        case isc_arg_string:
        case isc_arg_interpreted:
            argument(reinterpret_cast<const char *>(v[1]));
            v += 2;
            break;
        case isc_arg_sql_state:
            sqlstate = reinterpret_cast<const char *>(v[1]);
            v += 2;
            break;
        default:
            v += 2;
        }
    }
    if (sqlstate.empty()) {
        using SqlState = decltype(&fb_sqlstate);
        if (auto fb_sqlstate = reinterpret_cast<SqlState>(symbol(module_, "fb_sqlstate"))) {
            char state[6] = "";
            fb_sqlstate(state, status->getErrors());
            sqlstate = state;
        }
    }
    char text[4096] = "";
    util->formatStatus(text, sizeof text, status);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    throw EngineError(message, std::move(codes), std::move(sqlstate));
}

Attachment Client::attach(const std::string &database, const std::string &user, const std::string &password, unsigned dialect,
                          bool read_only)
{
    Parameters dpb(*this, IXpbBuilder::DPB);
    dpb.text(isc_dpb_user_name, user).text(isc_dpb_lc_ctype, "UTF8").integer(isc_dpb_sql_dialect, int(dialect));
    dpb.integer(isc_dpb_no_db_triggers, 1);
    if (read_only)
        dpb.integer(isc_dpb_no_garbage_collect, 1);
    if (!password.empty())
        dpb.text(isc_dpb_password, password);
    IAttachment *attachment =
        call(*this, [&](Status *s) { return provider->attachDatabase(s, database.c_str(), dpb.length(), dpb.bytes()); });
    return Attachment(*this, attachment, dialect, read_only);
}

Service Client::services(const std::string &user, const std::string &password)
{
    Parameters spb(*this, IXpbBuilder::SPB_ATTACH);
    spb.text(isc_spb_user_name, user);
    if (!password.empty())
        spb.text(isc_spb_password, password);
    IService *service =
        call(*this, [&](Status *s) { return provider->attachServiceManager(s, "service_mgr", spb.length(), spb.bytes()); });
    return Service(*this, service);
}

void Client::shutdown()
{
    call(*this, [&](Status *s) { provider->shutdown(s, 5000, fb_shutrsn_signal); });
}

void Client::shutdown_quietly()
{
    IStatus *raw = master->getStatus();
    Status s(raw);
    provider->shutdown(&s, 5000, fb_shutrsn_signal);
    raw->dispose();
}

// --- Parameters -------------------------------------------------------------

// The builder starts each kind with its version itself.
Parameters::Parameters(Client &client, unsigned kind) : client_(client)
{
    builder_ = call(client_, [&](Status *s) { return client_.util->getXpbBuilder(s, kind, nullptr, 0); });
}

Parameters::~Parameters()
{
    builder_->dispose();
}

Parameters &Parameters::tag(unsigned char tag)
{
    call(client_, [&](Status *s) { builder_->insertTag(s, tag); });
    return *this;
}

Parameters &Parameters::integer(unsigned char tag, int value)
{
    call(client_, [&](Status *s) { builder_->insertInt(s, tag, value); });
    return *this;
}

Parameters &Parameters::byte(unsigned char tag, unsigned char value)
{
    call(client_, [&](Status *s) { builder_->insertBytes(s, tag, &value, 1); });
    return *this;
}

Parameters &Parameters::text(unsigned char tag, const std::string &value)
{
    call(client_, [&](Status *s) { builder_->insertString(s, tag, value.c_str()); });
    return *this;
}

unsigned Parameters::length()
{
    return call(client_, [&](Status *s) { return builder_->getBufferLength(s); });
}

const unsigned char *Parameters::bytes()
{
    return call(client_, [&](Status *s) { return builder_->getBuffer(s); });
}

// --- Attachment -------------------------------------------------------------

Attachment::Attachment(Client &client, IAttachment *attachment, unsigned dialect, bool read_only)
    : client_(client), attachment_(attachment), dialect_(dialect), read_only_(read_only)
{
}

Attachment::~Attachment()
{
    if (transaction_)
        end_quietly(client_, transaction_, [](ITransaction *t, Status *s) { t->rollback(s); });
    if (attachment_)
        end_quietly(client_, attachment_, [](IAttachment *a, Status *s) { a->detach(s); });
}

ITransaction *Attachment::transaction()
{
    if (!transaction_) {
        // Concurrency; read-only for an attachment that writes nothing; a
        // lock held by someone else waited for ten seconds, not for ever.
        const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_concurrency, isc_tpb_wait,
                                     static_cast<unsigned char>(read_only_ ? isc_tpb_read : isc_tpb_write),
                                     isc_tpb_lock_timeout, 4, 10, 0, 0, 0};
        transaction_ = call(client_, [&](Status *s) { return attachment_->startTransaction(s, sizeof tpb, tpb); });
    }
    return transaction_;
}

std::vector<Row> Attachment::query(const std::string &sql, const std::vector<std::string> &params)
{
    std::vector<Row> rows;
    each(sql, params, [&](const Row &row) { rows.push_back(row); });
    return rows;
}

void Attachment::each(const std::string &sql, const std::vector<std::string> &params,
                      const std::function<void(const Row &)> &each)
{
    ITransaction *tra = transaction();
    IStatement *statement = call(client_, [&](Status *s) {
        return attachment_->prepare(s, tra, 0, sql.c_str(), dialect_, IStatement::PREPARE_PREFETCH_METADATA);
    });
    struct Free {
        Client &c;
        IStatement *st;
        ~Free() { end_quietly(c, st, [](IStatement *x, Status *s) { x->free(s); }); }
    } free_statement{client_, statement};

    // Every parameter a UTF8 VARCHAR of its own length, every column a UTF8
    // VARCHAR long enough for its value as text: the engine converts.
    auto as_texts = [&](IMessageMetadata *meta, const std::vector<unsigned> &lengths) {
        Released<IMetadataBuilder> builder(call(client_, [&](Status *s) { return meta->getBuilder(s); }));
        for (unsigned i = 0; i < lengths.size(); ++i) {
            // SQL_VARYING itself, not with the nullable bit: Firebird 6
            // reads the type as given and knows no type 449 (internal
            // error); every field has its null indicator all the same.
            call(client_, [&](Status *s) { builder.p->setType(s, i, SQL_VARYING); });
            call(client_, [&](Status *s) { builder.p->setLength(s, i, std::max(1u, lengths[i])); });
            call(client_, [&](Status *s) { builder.p->setCharSet(s, i, CS_UTF8); });
        }
        return call(client_, [&](Status *s) { return builder.p->getMetadata(s); });
    };

    Released<IMessageMetadata> in_meta(call(client_, [&](Status *s) { return statement->getInputMetadata(s); }));
    const unsigned in_count = call(client_, [&](Status *s) { return in_meta.p->getCount(s); });
    if (in_count != params.size())
        throw Failure("internal: a statement takes " + std::to_string(in_count) + " parameters, " +
                      std::to_string(params.size()) + " given");
    std::vector<unsigned> in_lengths;
    for (const std::string &p : params)
        in_lengths.push_back(unsigned(p.size()));
    Released<IMessageMetadata> in_holder(as_texts(in_meta.p, in_lengths));
    IMessageMetadata *in = in_holder.p;
    std::vector<unsigned char> in_buffer(call(client_, [&](Status *s) { return in->getMessageLength(s); }));
    for (unsigned i = 0; i < params.size(); ++i) {
        const unsigned offset = call(client_, [&](Status *s) { return in->getOffset(s, i); });
        const unsigned null_offset = call(client_, [&](Status *s) { return in->getNullOffset(s, i); });
        const uint16_t length = uint16_t(params[i].size());
        std::memcpy(&in_buffer[offset], &length, 2);
        std::memcpy(&in_buffer[offset + 2], params[i].data(), params[i].size());
        const int16_t not_null = 0;
        std::memcpy(&in_buffer[null_offset], &not_null, 2);
    }

    Released<IMessageMetadata> out_meta(call(client_, [&](Status *s) { return statement->getOutputMetadata(s); }));
    const unsigned out_count = call(client_, [&](Status *s) { return out_meta.p->getCount(s); });
    std::vector<unsigned> out_lengths;
    for (unsigned i = 0; i < out_count; ++i) {
        const unsigned type = call(client_, [&](Status *s) { return out_meta.p->getType(s, i); }) & ~1u;
        const unsigned length = call(client_, [&](Status *s) { return out_meta.p->getLength(s, i); });
        // A text in any set is at most four UTF8 bytes a byte of it.
        out_lengths.push_back(type == SQL_VARYING || type == SQL_TEXT ? std::min(32765u, length * 4) : 64u);
    }
    Released<IMessageMetadata> out_holder(as_texts(out_meta.p, out_lengths));
    IMessageMetadata *out = out_holder.p;
    std::vector<unsigned char> out_buffer(call(client_, [&](Status *s) { return out->getMessageLength(s); }));
    std::vector<unsigned> offsets, null_offsets;
    for (unsigned i = 0; i < out_count; ++i) {
        offsets.push_back(call(client_, [&](Status *s) { return out->getOffset(s, i); }));
        null_offsets.push_back(call(client_, [&](Status *s) { return out->getNullOffset(s, i); }));
    }
    auto read_row = [&] {
        Row row;
        for (unsigned i = 0; i < out_count; ++i) {
            const unsigned offset = offsets[i];
            int16_t null_flag;
            std::memcpy(&null_flag, &out_buffer[null_offsets[i]], 2);
            uint16_t length;
            std::memcpy(&length, &out_buffer[offset], 2);
            if (null_flag)
                row.emplace_back(std::nullopt);
            else
                row.emplace_back(std::string(reinterpret_cast<const char *>(&out_buffer[offset + 2]), length));
        }
        return row;
    };

    const unsigned type = call(client_, [&](Status *s) { return statement->getType(s); });
    if (type == isc_info_sql_stmt_select || type == isc_info_sql_stmt_select_for_upd) {
        Released<IResultSet> cursor(
            call(client_, [&](Status *s) { return statement->openCursor(s, tra, in, in_buffer.data(), out, 0); }));
        while (call(client_, [&](Status *s) { return cursor.p->fetchNext(s, out_buffer.data()); }) == IStatus::RESULT_OK)
            each(read_row());
        call(client_, [&](Status *s) { cursor.p->close(s); });
        cursor.p = nullptr; // closed and released
    } else {
        call(client_, [&](Status *s) {
            statement->execute(s, tra, in, in_buffer.data(), out_count ? out : nullptr, out_count ? out_buffer.data() : nullptr);
        });
        if (out_count)
            each(read_row());
    }
}

void Attachment::execute(const std::string &sql, const std::vector<std::string> &params)
{
    query(sql, params);
}

void Attachment::commit()
{
    if (transaction_) {
        call(client_, [&](Status *s) { transaction_->commit(s); });
        transaction_ = nullptr;
    }
}

void Attachment::rollback()
{
    if (transaction_) {
        call(client_, [&](Status *s) { transaction_->rollback(s); });
        transaction_ = nullptr;
    }
}

std::string Attachment::engine_version()
{
    const unsigned char items[] = {isc_info_firebird_version, isc_info_end};
    unsigned char buffer[512] = {};
    call(client_, [&](Status *s) { attachment_->getInfo(s, sizeof items, items, sizeof buffer, buffer); });
    // item, length (2 bytes), count, then each: length (1 byte), text
    if (buffer[0] != isc_info_firebird_version)
        return "";
    const unsigned char *p = buffer + 3;
    const unsigned count = *p++;
    std::string engine;
    for (unsigned i = 0; i < count && p < buffer + sizeof buffer; ++i) {
        const unsigned n = *p++;
        engine = std::string(reinterpret_cast<const char *>(p), n); // the last one is the engine's
        p += n;
    }
    return engine;
}

unsigned Attachment::database_dialect()
{
    const unsigned char items[] = {isc_info_db_sql_dialect, isc_info_end};
    unsigned char buffer[16] = {};
    call(client_, [&](Status *s) { attachment_->getInfo(s, sizeof items, items, sizeof buffer, buffer); });
    if (buffer[0] != isc_info_db_sql_dialect)
        return 3;
    return little_endian(buffer + 3, little_endian(buffer + 1, 2));
}

bool Attachment::database_read_only()
{
    const unsigned char items[] = {isc_info_db_read_only, isc_info_end};
    unsigned char buffer[16] = {};
    call(client_, [&](Status *s) { attachment_->getInfo(s, sizeof items, items, sizeof buffer, buffer); });
    return buffer[0] == isc_info_db_read_only && little_endian(buffer + 3, little_endian(buffer + 1, 2)) != 0;
}

void Attachment::cancel()
{
    IStatus *raw = client_.master->getStatus();
    Status s(raw);
    if (attachment_)
        attachment_->cancelOperation(&s, fb_cancel_raise);
    raw->dispose();
}

void Attachment::detach()
{
    rollback();
    if (attachment_) {
        call(client_, [&](Status *s) { attachment_->detach(s); });
        attachment_ = nullptr;
    }
}

// --- Service ----------------------------------------------------------------

Service::~Service()
{
    if (service_)
        end_quietly(client_, service_, [](IService *x, Status *s) { x->detach(s); });
}

void Service::start(Parameters &spb)
{
    call(client_, [&](Status *s) { service_->start(s, spb.length(), spb.bytes()); });
}

std::optional<std::string> Service::next_line(bool &finished)
{
    finished = false;
    // Wait a second at most, so that the caller can show progress and stop.
    const unsigned char send[] = {isc_info_svc_timeout, 4, 0, 1, 0, 0, 0, isc_info_end};
    // isc_info_svc_stdin only to hear of a request for input, which a
    // restore makes when its backup file ends before the backup does.
    const unsigned char receive[] = {isc_info_svc_line, isc_info_svc_stdin};
    unsigned char buffer[8192];
    call(client_, [&](Status *s) { service_->query(s, sizeof send, send, sizeof receive, receive, sizeof buffer, buffer); });
    bool timed_out = false, truncated = false;
    std::string line;
    for (const unsigned char *p = buffer; p < buffer + sizeof buffer && *p != isc_info_end;) {
        const unsigned char item = *p++;
        if (item == isc_info_svc_line) {
            const unsigned n = little_endian(p, 2);
            p += 2;
            line.assign(reinterpret_cast<const char *>(p), std::min<size_t>(n, size_t(buffer + sizeof buffer - p)));
            p += n;
        } else if (item == isc_info_svc_stdin) {
            if (little_endian(p, 4) > 0)
                throw Failure("the backup ends before the backup does (truncated, or a volume missing: give every "
                              "volume, in order): nothing was made");
            p += 4;
        } else if (item == isc_info_svc_timeout) {
            timed_out = true;
        } else if (item == isc_info_truncated) {
            truncated = true;
        } else if (item == isc_info_data_not_ready) {
            timed_out = true;
        } else {
            break;
        }
    }
    if (!line.empty() || truncated) {
        std::string whole = pending_ + line;
        pending_.clear();
        if (truncated) {
            pending_ = whole;
            return std::nullopt;
        }
        return whole;
    }
    if (!timed_out)
        finished = true;
    return std::nullopt;
}

void Service::detach()
{
    if (service_) {
        call(client_, [&](Status *s) { service_->detach(s); });
        service_ = nullptr;
    }
}

} // namespace upgrade
