// morvanfn-upgrade: the backup, read by the engine's service manager in a
// step of its own (tool.h).
//
//   meta RUN WORK WORK_ID BACKUP ...           the metadata alone, as SYSDBA,
//                                              into WORK/meta.fdb: the engine's
//                                              version, owners, users, tables,
//                                              whether it is read-only, the
//                                              indexes it has active
//   restore RUN WORK WORK_ID OWNER BACKUP ...  the whole backup, as OWNER, into
//                                              WORK/database.fdb: the indexes
//                                              it could not build
//
// BACKUP ...: the backup's volumes, in order.
//
// WORK is the run's own directory beside the target, WORK_ID its identity:
// each step checks that WORK is still that directory before the engine
// makes a file there, and that the file it then attaches to is the one the
// engine made.
#include "tool.h"

#include <ibase.h>

#include <cstdlib>

namespace upgrade {

namespace {

// gbak's "Database is not online due to failure to activate one or more
// indices" (facility 12, message 246).
const intptr_t gbak_not_online = 336330998;

enum class Restored { done, indexes_left, denied };

// gbak pads names with blanks, and the service ends its lines with one:
// blanks at the end of a line count for nothing, in its output as in a name.
std::string trimmed(std::string line)
{
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// A name as gbak's lines show it: each of its own lines trimmed.
std::string as_shown(const std::string &name)
{
    std::string shown, part;
    for (char c : name + "\n") {
        if (c == '\n') {
            shown += trimmed(part) + "\n";
            part.clear();
        } else {
            part += c;
        }
    }
    shown.pop_back();
    return shown;
}

// A restore through the service manager, as user, its verbose output kept
// in output (lines joined by \n); progress emitted as it comes.
Restored restore_through_service(Step &step, const std::vector<std::string> &backup, const std::string &database,
                                 const std::string &user, bool metadata_only, std::string &denied_path,
                                 std::string &output)
{
    Client &client = step.client;
    Service service = step.services(user);
    Parameters spb(client, Firebird::IXpbBuilder::SPB_START);
    spb.tag(isc_action_svc_restore);
    for (const std::string &volume : backup)
        spb.text(isc_spb_bkp_file, volume);
    // Firebird 6 crashes evaluating a UDF, as it would building an index
    // on one: there the whole restore builds no index, the finish step
    // builds them all once the UDFs are the UDR.
    const bool no_index = !metadata_only && firebird6_or_later(step.provider);
    spb.text(isc_spb_dbname, database)
        .integer(isc_spb_options, isc_spb_res_create | (metadata_only ? isc_spb_res_metadata_only : 0) |
                                      (no_index ? isc_spb_res_deactivate_idx : 0));
    // Verbose: the progress, and gbak's last word, which it says only once
    // the whole backup has been read.
    spb.integer(isc_spb_verbint, 20000);
    bool read_to_the_end = false;
    const std::string end = "finishing, closing, and going home";
    const std::string restoring = "restoring data for table ";
    unsigned tables = 0;
    unsigned long long rows = 0;
    std::string table;
    try {
        service.start(spb);
        for (bool finished = false; !finished;) {
            const auto line = service.next_line(finished);
            if (!line)
                continue;
            output += *line + "\n";
            if (line->find(end) != std::string::npos)
                read_to_the_end = true;
            if (metadata_only)
                continue;
            // Progress only: what is decided is read from the catalogue.
            const size_t r = line->find(restoring);
            if (r != std::string::npos) {
                table = line->substr(r + restoring.size());
                // gbak pads a name with blanks, which count for nothing in a name.
                while (!table.empty() && (table.back() == ' ' || table.back() == '\r'))
                    table.pop_back();
                ++tables;
                rows = 0;
            } else if (line->find(" records restored") != std::string::npos) {
                rows = std::strtoull(line->c_str() + line->find_first_not_of(" gbak:"), nullptr, 10);
            } else {
                continue;
            }
            emit({"progress", std::to_string(tables), std::to_string(rows), table});
        }
    } catch (const EngineError &e) {
        if (const auto *access = e.find(isc_conf_access_denied))
            if (access->arguments.size() == 2 && access->arguments[0] == "UDF/BLOB-filter module") {
                denied_path = access->arguments[1];
                return Restored::denied;
            }
        // Past its last volume gbak takes the next name it was given, the
        // database, for a volume, and cannot open it as one (the service
        // hands the error over as text): a volume is missing.
        for (const auto &code : e.codes)
            for (const std::string &argument : code.arguments)
                if (argument.find(database) != std::string::npos)
                    throw Failure("the backup goes on after " + backup.back() + ", the last volume given: a volume is "
                                  "missing (give every volume, in order): nothing was made");
        if (!e.has(gbak_not_online))
            throw;
        if (read_to_the_end)
            return Restored::indexes_left;
    }
    if (!read_to_the_end)
        throw Failure("the restore ended before the backup did (a truncated backup, or a volume missing after "
                      "the last one given): nothing was made");
    return Restored::done;
}

// The run's work directory, checked to be the one the parent made.
Directory work_directory(const std::string &path, const std::string &id)
{
    const auto now = identity_of(path);
    if (!now || *now != id_from(id))
        throw Failure(path + " is no longer this run's directory (moved, or replaced): nothing was made");
    Directory work(path);
    if (work.id() != id_from(id))
        throw Failure(path + " is no longer this run's directory (moved, or replaced): nothing was made");
    return work;
}

// The file the engine made in work: the one to attach to.
FileId made_file(const Directory &work, const std::string &name)
{
    const auto e = work.entry(name);
    if (!e || !e->regular || !e->owned || e->links != 1)
        throw Failure(join(work.path(), name) + " is not the file the engine made: nothing was made");
    return e->id;
}

const char *const users_query = R"(
SELECT DISTINCT CAST(TRIM(u) AS VARCHAR(63) CHARACTER SET UTF8) FROM (
    SELECT RDB$OWNER_NAME AS u FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$OWNER_NAME FROM RDB$PROCEDURES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$OWNER_NAME FROM RDB$FUNCTIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$OWNER_NAME FROM RDB$PACKAGES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$OWNER_NAME FROM RDB$ROLES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$OWNER_NAME FROM RDB$GENERATORS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$OWNER_NAME FROM RDB$EXCEPTIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION SELECT RDB$USER FROM RDB$USER_PRIVILEGES WHERE RDB$USER_TYPE = 8
    UNION SELECT RDB$GRANTOR FROM RDB$USER_PRIVILEGES)
WHERE u IS NOT NULL AND TRIM(u) NOT IN ('SYSDBA', 'PUBLIC') ORDER BY 1)";

const char *const owners_query = R"(
SELECT CAST(TRIM(o) AS VARCHAR(63) CHARACTER SET UTF8), COUNT(*) FROM (
    SELECT RDB$OWNER_NAME AS o FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION ALL SELECT RDB$OWNER_NAME FROM RDB$PROCEDURES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION ALL SELECT RDB$OWNER_NAME FROM RDB$FUNCTIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0
    UNION ALL SELECT RDB$OWNER_NAME FROM RDB$PACKAGES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0)
WHERE o IS NOT NULL GROUP BY 1 ORDER BY 2 DESC, 1)";

// External routines whose module is named with a path: the UDR engine would
// load it from wherever the path leads.
const char *const udr_paths_query = R"(
SELECT CAST(TRIM(n) AS VARCHAR(63) CHARACTER SET UTF8), CAST(e AS VARCHAR(1000) CHARACTER SET UTF8) FROM (
    SELECT RDB$FUNCTION_NAME AS n, RDB$ENTRYPOINT AS e, RDB$ENGINE_NAME AS g FROM RDB$FUNCTIONS
    UNION ALL SELECT RDB$PROCEDURE_NAME, RDB$ENTRYPOINT, RDB$ENGINE_NAME FROM RDB$PROCEDURES
    UNION ALL SELECT RDB$TRIGGER_NAME, RDB$ENTRYPOINT, RDB$ENGINE_NAME FROM RDB$TRIGGERS)
WHERE g IS NOT NULL AND (POSITION('/' IN e) > 0 OR POSITION('\' IN e) > 0 OR POSITION('..' IN e) > 0)
ORDER BY 1)";

const char *const active_indexes_query = R"(
SELECT TRIM(TRAILING FROM i.RDB$INDEX_NAME) FROM RDB$INDICES i
WHERE COALESCE(i.RDB$SYSTEM_FLAG, 0) = 0 AND COALESCE(i.RDB$INDEX_INACTIVE, 0) = 0
ORDER BY IIF(EXISTS(SELECT 1 FROM RDB$RELATION_CONSTRAINTS c
                    WHERE c.RDB$INDEX_NAME = i.RDB$INDEX_NAME AND c.RDB$CONSTRAINT_TYPE = 'FOREIGN KEY'), 1, 0), 1)";

} // namespace

std::optional<std::string> gbak_failed(const std::string &output, const std::string &name)
{
    const std::string lines = as_shown(output);
    const std::string said = "cannot commit index " + as_shown(name) + "\n";
    // gbak says why on the very next line: a name that is only the first
    // line of another's is not that other.
    size_t at = lines.find(said);
    while (at != std::string::npos && lines.compare(at + said.size(), 12, "gbak: ERROR:") != 0)
        at = lines.find(said, at + 1);
    if (at == std::string::npos)
        return std::nullopt;
    // Why, in the engine's words: the ERROR lines that follow.
    std::string why;
    for (size_t line = at + said.size() - 1; line != std::string::npos && line + 1 < lines.size();) {
        const size_t next = lines.find('\n', line + 1);
        const std::string text = lines.substr(line + 1, next == std::string::npos ? std::string::npos : next - line - 1);
        const size_t e = text.find("ERROR:");
        if (e == std::string::npos)
            break;
        std::string reason = trimmed(text.substr(e + 6));
        reason.erase(0, reason.find_first_not_of(' '));
        if (why.find(reason) == std::string::npos)
            why += (why.empty() ? "" : ": ") + reason;
        line = next;
    }
    return why;
}

int step_meta(Step &step, const std::vector<std::string> &a)
{
    // a: meta RUN WORK WORK_ID BACKUP ...
    Directory work = work_directory(a[2], a[3]);
    const std::string file = join(work.path(), "meta.fdb");
    std::string denied, output;
    const std::vector<std::string> backup(a.begin() + 4, a.end());
    if (restore_through_service(step, backup, file, "SYSDBA", true, denied, output) == Restored::denied) {
        emit({"denied", denied});
        return exit_denied;
    }
    Attachment db = attach_checked(step.client, file, made_file(work, "meta.fdb"), "SYSDBA", 3, true);
    emit({"value", "engine", db.engine_version()});
    // A read-only backup restores read-only, but only a restore that ends
    // well says so: one that leaves an index unbuilt ends before.
    emit({"value", "read_only", db.database_read_only() ? "1" : "0"});
    for (const Row &r : db.query(owners_query))
        emit({"value", "owner", or_null(r[0]), or_null(r[1])});
    for (const Row &r : db.query(users_query))
        emit({"value", "user", or_null(r[0])});
    // The indexes the backup has active, foreign keys last (their keys'
    // indexes first): what an engine that builds none in the restore
    // builds afterwards.
    for (const Row &r : db.query(active_indexes_query))
        emit({"value", "active_index", or_null(r[0])});
    for (const Row &r : db.query(udr_paths_query))
        emit({"value", "udr_path", or_null(r[0]), or_null(r[1])});
    const auto tables = db.query("SELECT COUNT(*) FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
                                 "AND RDB$VIEW_BLR IS NULL AND RDB$EXTERNAL_FILE IS NULL");
    emit({"value", "tables", or_null(tables[0][0])});
    db.detach();
    return exit_done;
}

int step_restore(Step &step, const std::vector<std::string> &a)
{
    // a: restore RUN WORK WORK_ID OWNER BACKUP ...
    Directory work = work_directory(a[2], a[3]);
    const std::string file = join(work.path(), "database.fdb");
    std::string denied, output;
    const std::vector<std::string> backup(a.begin() + 5, a.end());
    const Restored how = restore_through_service(step, backup, file, a[4], false, denied, output);
    if (how == Restored::denied) {
        emit({"denied", denied});
        return exit_denied;
    }
    // The indexes the restore could not build, from the catalogue: left
    // inactive by the restore (Firebird 5 marks them 3; 3.0 and 4.0 mark
    // them 1, as an index the old database had inactive, and only gbak's
    // words for exactly that name tell the two apart).
    Attachment db = attach_checked(step.client, file, made_file(work, "database.fdb"), login(a[4]), 3, true);
    for (const Row &r : db.query("SELECT TRIM(TRAILING FROM RDB$INDEX_NAME), RDB$INDEX_INACTIVE FROM RDB$INDICES "
                                 "WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 AND COALESCE(RDB$INDEX_INACTIVE, 0) <> 0 "
                                 "ORDER BY 1")) {
        const std::string name = or_null(r[0]);
        const auto why = gbak_failed(output, name);
        if (or_null(r[1]) != "3" && !why)
            continue;
        // The engine names the index it could not build "***unknown***":
        // its name is known here.
        std::string said = why ? *why : "";
        const std::string unknown = "index \"***unknown***\"";
        if (const size_t u = said.find(unknown); u != std::string::npos)
            said.replace(u, unknown.size(), "index " + quoted(name));
        emit({"value", "failed_index", name, said});
    }
    db.detach();
    emit({"value", "restored", how == Restored::done ? "online" : "indexes left"});
    return exit_done;
}

} // namespace upgrade
