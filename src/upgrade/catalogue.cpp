// morvanfn-upgrade: the work on a database's catalogue (tool.h): the check,
// the switch, the expression indexes built with the UDR, and the finish
// step of a restore.  Every decision comes from the catalogue or from the
// counts the statements keep, never from the words of their rows; every
// name in a statement is quoted, every value a parameter.
//
//   finish RUN FILE FILE_ID OWNER MODE [INDEX ...]
//                                               the restored database, FILE,
//       brought online, switched, the INDEXes the restore could not build
//       built, checked; the catalogue's word on indexes and the owner
#include "tool.h"

#include "sql_statements.h"

#include <ibase.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace upgrade {

namespace {

// While one long statement runs: "WHAT: still ..., N s" every few seconds,
// so that a build of a big index is not taken for a hang.
class Ticker {
public:
    Ticker(const Out &out, std::string what) : out_(out), what_(std::move(what)), thread_([this] { run(); }) {}
    Ticker(const Ticker &) = delete;
    Ticker &operator=(const Ticker &) = delete;
    ~Ticker()
    {
        {
            std::lock_guard<std::mutex> g(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> g(mutex_);
        for (unsigned seconds = every; !wake_.wait_for(g, std::chrono::seconds(every), [this] { return done_; });
             seconds += every)
            out_(what_ + ", " + std::to_string(seconds) + " s");
    }
    static constexpr unsigned every = 5;
    const Out &out_;
    std::string what_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// A name as a statement in this dialect writes it: quoted, " doubled, in
// dialect 3; in dialect 1, which has no quoted names, only a plain one.
std::optional<std::string> sql_name(const std::string &name, unsigned dialect)
{
    if (dialect != 1)
        return quoted(name);
    if (name.empty() || name[0] < 'A' || name[0] > 'Z')
        return std::nullopt;
    for (char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$'))
            return std::nullopt;
    return name;
}

std::string context(Attachment &db, const std::string &name)
{
    const auto r = db.query("SELECT CAST(RDB$GET_CONTEXT('USER_SESSION', CAST(? AS VARCHAR(80))) AS VARCHAR(255) "
                            "CHARACTER SET UTF8) FROM RDB$DATABASE",
                            {name});
    return r.empty() || !r[0][0] ? "" : *r[0][0];
}

// A function declared on this library's UDF module, by any of its names
// (morvanfn, morvanfn.so, morvanfn.dll, a path, any case): f is RDB$FUNCTIONS.
const std::string on_morvanfn = "LOWER(TRIM(f.RDB$MODULE_NAME)) SIMILAR TO '(%[/\\])?morvanfn(.so|.dll)?'";

// An inactive expression index whose source names the function: an
// inactive index has no dependencies recorded.  x is RDB$INDICES, f
// RDB$FUNCTIONS.
const std::string inactive_naming_f =
    "x.RDB$EXPRESSION_BLR IS NOT NULL AND COALESCE(x.RDB$INDEX_INACTIVE, 0) <> 0 "
    "AND POSITION(UPPER(TRIM(TRAILING FROM f.RDB$FUNCTION_NAME)) "
    "IN UPPER(CAST(SUBSTRING(x.RDB$EXPRESSION_SOURCE FROM 1 FOR 8000) AS VARCHAR(8000)))) > 0";

} // namespace

std::string builtin_for(const std::string &entry_point)
{
    std::string e;
    for (char c : entry_point)
        e += char(std::tolower(static_cast<unsigned char>(c)));
    if (e.rfind("ib_udf_", 0) == 0)
        e.erase(0, 7);
    // ib_udf's and fbudf's entry points, and what Firebird 3 and later have
    // built in for each.
    static const struct {
        const char *entry, *builtin;
    } table[] = {
        {"abs", "ABS(x)"}, {"acos", "ACOS(x)"}, {"ascii_char", "ASCII_CHAR(n)"}, {"ascii_val", "ASCII_VAL(c)"},
        {"asin", "ASIN(x)"}, {"atan", "ATAN(x)"}, {"atan2", "ATAN2(y, x)"}, {"bin_and", "BIN_AND(a, b)"},
        {"bin_or", "BIN_OR(a, b)"}, {"bin_xor", "BIN_XOR(a, b)"}, {"ceiling", "CEILING(x)"}, {"cos", "COS(x)"},
        {"cosh", "COSH(x)"}, {"cot", "COT(x)"}, {"floor", "FLOOR(x)"}, {"ln", "LN(x)"}, {"log", "LOG(b, x)"},
        {"log10", "LOG10(x)"}, {"lower", "LOWER(s)"}, {"lpad", "LPAD(s, n, c)"}, {"ltrim", "TRIM(LEADING FROM s)"},
        {"mod", "MOD(a, b)"}, {"pi", "PI()"}, {"rand", "RAND()"}, {"rpad", "RPAD(s, n, c)"},
        {"rtrim", "TRIM(TRAILING FROM s)"}, {"sign", "SIGN(x)"}, {"sin", "SIN(x)"}, {"sinh", "SINH(x)"},
        {"sqrt", "SQRT(x)"}, {"strlen", "CHAR_LENGTH(s)"}, {"substr", "SUBSTRING(s FROM a FOR b - a + 1)"},
        {"substrlen", "SUBSTRING(s FROM a FOR n)"}, {"tan", "TAN(x)"}, {"tanh", "TANH(x)"},
        {"addday", "DATEADD(n DAY TO t)"}, {"addhour", "DATEADD(n HOUR TO t)"}, {"addminute", "DATEADD(n MINUTE TO t)"},
        {"addmonth", "DATEADD(n MONTH TO t)"}, {"addmillisecond", "DATEADD(n MILLISECOND TO t)"},
        {"addsecond", "DATEADD(n SECOND TO t)"}, {"addweek", "DATEADD(n WEEK TO t)"}, {"addyear", "DATEADD(n YEAR TO t)"},
        {"dow", "EXTRACT(WEEKDAY FROM t)"}, {"fbround", "ROUND(x, n)"}, {"fbtruncate", "TRUNC(x, n)"},
        {"getexacttimestamp", "CURRENT_TIMESTAMP"}, {"idnvl", "COALESCE(a, b)"}, {"inullif", "NULLIF(a, b)"},
        {"i64nvl", "COALESCE(a, b)"}, {"i64nullif", "NULLIF(a, b)"}, {"dnvl", "COALESCE(a, b)"},
        {"dnullif", "NULLIF(a, b)"}, {"snvl", "COALESCE(a, b)"}, {"snullif", "NULLIF(a, b)"},
        {"power", "POWER(x, y)"}, {"right", "RIGHT(s, n)"}, {"sright", "RIGHT(s, n)"}, {"string2blob", "CAST(s AS BLOB)"},
        {"truncate", "TRUNC(x)"}, {"round", "ROUND(x)"}, {"i64round", "ROUND(x)"}, {"i64truncate", "TRUNC(x)"},
    };
    for (const auto &t : table)
        if (e == t.entry)
            return t.builtin;
    return "";
}

int engine_major(const std::string &engine_version)
{
    // From the engine's own string: LI-V5.0.4.1812 ..., LI-T6.0.0.2123 ...
    const size_t dash = engine_version.find('-');
    return dash == std::string::npos || dash + 2 >= engine_version.size() ? 0 : std::atoi(engine_version.c_str() + dash + 2);
}

std::optional<std::string> shadowed_on_6(const std::string &engine_version, const std::string &name)
{
    if (engine_major(engine_version) < 6)
        return std::nullopt;
    // Firebird 6's built-in functions (its SysFunction table): an
    // unqualified call of one of these names reaches the built-in there.
    static const char *const builtins[] = {
        "ABS", "ACOS", "ACOSH", "ASCII_CHAR", "ASCII_VAL", "ASIN", "ASINH", "ATAN", "ATAN2", "ATANH", "BASE64_DECODE",
        "BASE64_ENCODE", "BIN_AND", "BIN_NOT", "BIN_OR", "BIN_SHL", "BIN_SHL_ROT", "BIN_SHR", "BIN_SHR_ROT", "BIN_XOR",
        "BLOB_APPEND", "CEIL", "CEILING", "CHAR_TO_UUID", "COMPARE_DECFLOAT", "COS", "COSH", "COT", "CRYPT_HASH", "DATEADD",
        "DATEDIFF", "DECRYPT", "ENCRYPT", "EXP", "FIRST_DAY", "FLOOR", "GEN_UUID", "GREATEST", "HASH", "HEX_DECODE",
        "HEX_ENCODE", "LAST_DAY", "LEAST", "LEFT", "LN", "LOG", "LOG10", "LPAD", "MAKE_DBKEY", "MAXVALUE", "MINVALUE", "MOD",
        "NORMALIZE_DECFLOAT", "OVERLAY", "PI", "POSITION", "POWER", "QUANTIZE", "RAND", "REPLACE", "REVERSE", "RIGHT",
        "ROUND", "RPAD", "RSA_DECRYPT", "RSA_ENCRYPT", "RSA_PRIVATE", "RSA_PUBLIC", "RSA_SIGN_HASH", "RSA_VERIFY_HASH",
        "SIGN", "SIN", "SINH", "SQRT", "TAN", "TANH", "TOTALORDER", "TRUNC", "UNICODE_CHAR", "UNICODE_VAL", "UUID_TO_CHAR"};
    for (const char *b : builtins)
        if (name == b)
            return "on Firebird 6 an unqualified " + name + "(...) calls the built-in " + name +
                   ", not this UDF (a caller that wants the UDF names its schema)";
    return std::nullopt;
}

bool report_other_udfs(Attachment &db, const Out &out, const std::string &engine_version)
{
    // Every UDF not on this library: the switch leaves it as it is, and it
    // works only where UdfAccess allows its module.
    const auto rows = db.query(R"(
SELECT CAST(TRIM(TRAILING FROM f.RDB$FUNCTION_NAME) AS VARCHAR(63) CHARACTER SET UTF8),
       CAST(TRIM(f.RDB$MODULE_NAME) AS VARCHAR(255) CHARACTER SET UTF8),
       CAST(TRIM(f.RDB$ENTRYPOINT) AS VARCHAR(255) CHARACTER SET UTF8),
       (SELECT CAST(LIST(DISTINCT TRIM(TRAILING FROM d.RDB$DEPENDENT_NAME), ', ') AS VARCHAR(2000) CHARACTER SET UTF8)
            FROM RDB$DEPENDENCIES d
            WHERE d.RDB$DEPENDED_ON_NAME = f.RDB$FUNCTION_NAME AND d.RDB$DEPENDED_ON_TYPE = 15),
       (SELECT CAST(LIST(TRIM(TRAILING FROM x.RDB$INDEX_NAME), ', ') AS VARCHAR(2000) CHARACTER SET UTF8)
            FROM RDB$INDICES x WHERE )" + inactive_naming_f + R"()
FROM RDB$FUNCTIONS f
WHERE f.RDB$MODULE_NAME IS NOT NULL AND f.RDB$PACKAGE_NAME IS NULL AND NOT ()" + on_morvanfn + R"()
ORDER BY 1)");
    db.commit();
    if (rows.empty())
        return false;
    out("UDFs on other libraries, left as they are (each works only where UdfAccess allows its module):");
    for (const Row &r : rows) {
        const std::string builtin = builtin_for(or_null(r[2]));
        std::string used = r[3] ? *r[3] : "";
        if (r[4])
            used += (used.empty() ? "" : ", ") + *r[4] + " (inactive)";
        const auto shadowed = shadowed_on_6(engine_version, or_null(r[0]));
        out("  " + or_null(r[0]) + ": UDF on " + or_null(r[1]) + " (" + or_null(r[2]) + "), used by " +
            (used.empty() ? "nothing" : used) +
            (builtin.empty() ? "" : "; Firebird has " + builtin + " built in, which needs no UdfAccess") +
            (shadowed ? "; " + *shadowed : ""));
    }
    return true;
}

int udfs_on_morvanfn(Attachment &db)
{
    const auto left = db.query("SELECT COUNT(*) FROM RDB$FUNCTIONS f WHERE f.RDB$PACKAGE_NAME IS NULL AND " + on_morvanfn);
    db.commit();
    return std::atoi(or_null(left[0][0]).c_str());
}

void advise_udf_access(bool udfs_left, const Out &out, const std::string &engine_version)
{
    if (udfs_left && engine_major(engine_version) >= 6)
        out("UdfAccess: UDFs are left (named above), and Firebird 6 calls none of them (a text result fails at "
            "prepare, other calls crash the server): replace or drop each; then UdfAccess = None serves this database");
    else if (udfs_left)
        out("UdfAccess: UDFs are left (named above): keep UdfAccess allowing their modules until each is replaced; "
            "with UdfAccess = None every call of them fails, and every query through an index on them");
    else
        out("UdfAccess: no UDF is left in this database: UdfAccess = None (Firebird 4's and 5's default) serves it");
}

bool report_check(Attachment &db, const Out &out)
{
    bool attention = false;
    db.each(check_statement, {}, [&](const Row &r) {
        // function_name, kind, entry_point, arguments, result, dependents, verdict, note;
        // one row "(none)" with its verdict alone when nothing is declared.
        if (or_null(r[0]) == "(none)") {
            out("  " + or_null(r[6]));
            return;
        }
        out("  " + or_null(r[0]) + ": " + or_null(r[1]) + ", " + or_null(r[2]) + " (" + or_null(r[3]) + ") -> " +
            or_null(r[4]) + "; used by " + or_null(r[5]) + " object(s)");
        out("      " + or_null(r[6]));
        if (r[7])
            out("      note: " + *r[7]);
        attention = attention || (r[6] && r[6]->rfind("UNSAFE", 0) == 0);
    });
    db.commit();
    return attention;
}

Switched run_switch(Attachment &db, const Out &out, Switched &s)
{
    // The switch makes every active expression index on a function it
    // switches inactive in the same transaction: committed together, no
    // query ever reads a key the UDF computed through the UDR, even if this
    // run stops before the builds.  What it did, from its counts.
    db.each(switch_to_udr_statement, {}, [&](const Row &r) { out("  " + or_null(r[0]) + ": " + or_null(r[1])); });
    const int switched = std::atoi(context(db, "MORVANFN_SWITCHED").c_str());
    const int indexes = std::atoi(context(db, "MORVANFN_INDEXES").c_str());
    for (int i = 1; i <= indexes; ++i)
        s.indexes_to_build.push_back(context(db, "MORVANFN_INDEX_" + std::to_string(i)));
    s.refused = std::atoi(context(db, "MORVANFN_REFUSED").c_str()) > 0;
    db.commit();
    s.switched = switched;
    if (switched > 0)
        out("  committed: " + std::to_string(switched) + " switched" +
            (s.indexes_to_build.empty() ? ""
                                        : ", their " + std::to_string(s.indexes_to_build.size()) +
                                              " expression index(es) inactive until built with the UDR"));
    // The catalogue as committed: each function, and the engine's refusals.
    try {
        db.each(after_switch_statement, {}, [&](const Row &r) {
            if (r[0] && *r[0] == "(all)")
                out("  " + or_null(r[1]));
        });
    } catch (const EngineError &e) {
        // The statement's own failure, after its rows: a conversion error
        // from its text (isc_convert_error, "switch_to_udr.sql: ...").
        const auto *refusal = e.find(isc_convert_error);
        if (!refusal || refusal->arguments.empty() || refusal->arguments[0].rfind("switch_to_udr.sql:", 0) != 0)
            throw;
        s.refused = true;
    }
    db.commit();
    s.left = udfs_on_morvanfn(db) > 0;
    return s;
}

bool build_indexes(Attachment &db, const std::vector<std::string> &names, unsigned dialect, const Out &out)
{
    bool all = true;
    size_t n = 0;
    for (const std::string &index : names) {
        const std::string counted = " (" + std::to_string(++n) + " of " + std::to_string(names.size()) + ")";
        const auto state =
            db.query("SELECT COALESCE(RDB$INDEX_INACTIVE, 0) FROM RDB$INDICES WHERE RDB$INDEX_NAME = ?", {index});
        db.commit();
        if (state.empty() || or_null(state[0][0]) == "0")
            continue;
        const auto name = sql_name(index, dialect);
        if (!name) {
            out("index " + index + " stays inactive: its name needs quotes, which a dialect 1 database has not");
            all = false;
            continue;
        }
        if (stop_requested())
            throw Stopped();
        out("index " + index + counted + ": building it");
        try {
            {
                // The engine builds the index when the statement commits.
                Ticker ticker(out, "index " + index + counted + ": still building");
                db.execute("ALTER INDEX " + *name + " ACTIVE");
                db.commit();
            }
            out("index " + index + " built");
        } catch (const EngineError &e) {
            db.rollback();
            if (stop_requested())
                throw;
            out("index " + index + " could not be built: " + e.what());
            all = false;
        }
    }
    return all;
}

std::vector<std::string> inactive_on_udr(Attachment &db)
{
    std::vector<std::string> names;
    for (const Row &r : db.query(R"(
SELECT DISTINCT TRIM(TRAILING FROM x.RDB$INDEX_NAME) FROM RDB$INDICES x
    JOIN RDB$FUNCTIONS f ON f.RDB$PACKAGE_NAME IS NULL AND f.RDB$ENGINE_NAME = 'UDR'
        AND LOWER(f.RDB$ENTRYPOINT) STARTING WITH 'morvanfn_udr!'
    WHERE )" + inactive_naming_f + R"(
    ORDER BY 1)"))
        names.push_back(or_null(r[0]));
    db.commit();
    return names;
}

int step_finish(Step &step, const std::vector<std::string> &a)
{
    // a: finish RUN FILE FILE_ID OWNER read-only|read-write [FAILED_INDEX ...]
    Client &client = step.client;
    const std::string &database = a[2], owner = login(a[4]);
    const FileId id = id_from(a[3]);
    bool attention = false;
    Attachment probe = attach_checked(client, database, id, owner, 3);
    const Row state = probe.query("SELECT MON$SHUTDOWN_MODE, MON$READ_ONLY FROM MON$DATABASE")[0];
    const unsigned dialect = probe.database_dialect();
    probe.detach();
    // The database's properties, through the service manager, on this
    // very file.
    auto set = [&](auto &&what) {
        if (identity_of(database) != id)
            throw Failure(database + " is no longer the file this run works on: nothing was made");
        Service service = step.services(a[4]);
        Parameters spb(client, Firebird::IXpbBuilder::SPB_START);
        spb.tag(isc_action_svc_properties).text(isc_spb_dbname, database);
        what(spb);
        service.start(spb);
        for (bool finished = false; !finished;)
            service.next_line(finished);
    };
    // A restore that could not build an index leaves the database shut
    // down: brought online first, with the index inactive.
    if (or_null(state[0]) != "0")
        set([](Parameters &spb) { spb.integer(isc_spb_options, isc_spb_prp_db_online); });
    // A read-only backup's database (which the restore made read-only only
    // if it built every index) is finished read-write, and made read-only at
    // the end.
    const bool read_only = a[5] == "read-only";
    if (or_null(state[1]) == "1")
        set([](Parameters &spb) { spb.byte(isc_spb_prp_access_mode, isc_spb_prp_am_readwrite); });
    // The rules run as isql runs them, in the database's dialect.
    Attachment db = attach_checked(client, database, id, owner, dialect);
    step_says("switching the UDFs declared on morvanfn to morvanfn_udr:");
    Switched s;
    run_switch(db, step_says, s);
    attention = s.refused || s.left;
    // The indexes on what was switched, and those the restore could not
    // build without the UDFs, now that the functions work: one that stays
    // inactive is named, and the run ends with something for the DBA.
    std::vector<std::string> build = s.indexes_to_build;
    build.insert(build.end(), a.begin() + 6, a.end());
    if (!build_indexes(db, build, dialect, step_says))
        attention = true;

    step_says("check:");
    attention = report_check(db, step_says) || attention;
    const std::string engine = db.engine_version();
    const bool others = report_other_udfs(db, step_says, engine);
    advise_udf_access(s.left || others, step_says, engine);
    attention = attention || others;

    // The truth, from the catalogue: indexes, owner, online.
    std::vector<std::string> inactive;
    for (const Row &r : db.query("SELECT CAST(TRIM(RDB$INDEX_NAME) AS VARCHAR(63) CHARACTER SET UTF8), "
                                  "CAST(TRIM(RDB$RELATION_NAME) AS VARCHAR(63) CHARACTER SET UTF8) FROM RDB$INDICES "
                                  "WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 AND COALESCE(RDB$INDEX_INACTIVE, 0) <> 0 ORDER BY 1"))
        inactive.push_back(or_null(r[0]) + " on " + or_null(r[1]));
    const auto active = db.query("SELECT COUNT(*) FROM RDB$INDICES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
                                  "AND COALESCE(RDB$INDEX_INACTIVE, 0) = 0");
    std::string list;
    for (const std::string &i : inactive)
        list += (list.empty() ? "" : ", ") + i;
    step_says("indexes: " + or_null(active[0][0]) + " active, " + std::to_string(inactive.size()) + " inactive" +
              (list.empty() ? "" : ": " + list));
    const auto mon = db.query("SELECT CAST(TRIM(MON$OWNER) AS VARCHAR(63) CHARACTER SET UTF8), MON$SHUTDOWN_MODE FROM MON$DATABASE");
    emit({"value", "database_owner", or_null(mon[0][0])});
    if (or_null(mon[0][1]) != "0")
        throw Failure("the database is not online (shutdown mode " + or_null(mon[0][1]) + ")");
    db.commit();
    db.detach();
    if (read_only) {
        set([](Parameters &spb) { spb.byte(isc_spb_prp_access_mode, isc_spb_prp_am_readonly); });
        Attachment after = attach_checked(client, database, id, owner, dialect, true);
        const bool now = or_null(after.query("SELECT MON$READ_ONLY FROM MON$DATABASE")[0][0]) == "1";
        after.detach();
        if (!now)
            throw Failure("the database could not be made read-only again, as its backup was");
        step_says("read-only, as the backup was");
    }
    return attention ? exit_attention : exit_done;
}

} // namespace upgrade
