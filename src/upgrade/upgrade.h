/*
 * morvanfn-upgrade: brings a database that declared this library's
 * functions as UDFs onto Firebird 3, 4, 5 or 6, every declaration on the UDR
 * module, through Firebird's own client library and service manager.
 *
 *   morvanfn-upgrade [OPTION ...] restore BACKUP [VOLUME ...] DATABASE
 *   morvanfn-upgrade [OPTION ...] check DATABASE
 *   morvanfn-upgrade [OPTION ...] switch DATABASE
 *
 * restore: the backup of any earlier server is restored by the chosen
 * Firebird's engine, embedded, with a private configuration (no server, no
 * server setting touched), into a scratch file beside DATABASE, as the
 * owner of the database; the UDFs declared on morvanfn are switched to
 * morvanfn_udr (check.sql's and switch_to_udr.sql's own statements), the
 * expression indexes on them are built with the UDR, and only a finished,
 * online database takes the name DATABASE, which is never replaced.
 *
 * What a backup holds is never trusted: no library it names by a path is
 * loaded (the engine may look only where nothing can be loaded), every name
 * in a statement is quoted, every value a parameter, nothing reads the
 * keyboard, and no shell or other program stands between this and the
 * engine.
 *
 * Exit status: 0 done; 1 nothing made or changed, and why; 2 done, with
 * something named for the DBA.
 */
#ifndef MORVANFN_UPGRADE_H
#define MORVANFN_UPGRADE_H

namespace upgrade {

struct Hooks {
    // Called once Firebird's client library is loaded, before the engine
    // starts: the library, and the Firebird root the engine will run from.
    void (*client_loaded)(void *client_library, const char *firebird_root) = nullptr;
};

// The whole program: main() is this.
int main(int argc, char **argv, const Hooks &hooks = Hooks());

} // namespace upgrade

#endif
