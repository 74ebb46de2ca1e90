/*
 * fbsql: runs an SQL script through the fbclient.dll beside it, embedded,
 * and prints what isql -q with SET LIST ON prints of it: each row's columns
 * as NAME and value (<null>, <true>, OCTETS in hex), and for a statement
 * that fails "Statement failed, SQLSTATE = X" and the error's text.  The
 * Windows engine in PyPI's firebird-embedded has no isql.exe; this is the
 * tests' stand-in for it, run under wine, and nothing else uses it.
 *
 * usage: fbsql.exe [-utf8] [-user NAME] [-create] DATABASE [SCRIPT]
 *        fbsql.exe -backup DATABASE FILE
 *   -utf8    connect in UTF8 (isql -ch UTF8), not without a character set
 *   -user    connect as NAME (embedded: no password), not as SYSDBA
 *   -backup  back DATABASE up into FILE with the engine's service manager,
 *            as gbak -b (the wheels have no gbak.exe)
 *
 * The script is split as isql splits it: at the terminator (';', or what
 * SET TERM names) outside texts, quoted names and comments.  COMMIT and
 * ROLLBACK end the transaction, DDL is committed as it runs (isql's
 * AUTODDL), SET BAIL ON stops at the first error, SET STATS ON prints each
 * statement's elapsed time as isql does, INPUT runs another script, other
 * SET commands of isql are taken as read.
 *
 * Wine runs the engine once a few of its calls behave as on Windows:
 * reroute.c arranges that before the first attach.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <ibase.h>

#include "reroute.h"

#define API(name) static __typeof__(name) *p_##name
API(isc_attach_database); API(isc_create_database); API(isc_start_transaction); API(isc_commit_transaction);
API(isc_commit_retaining); API(isc_rollback_transaction); API(isc_dsql_allocate_statement);
API(isc_dsql_prepare); API(isc_dsql_describe); API(isc_dsql_execute); API(isc_dsql_execute2);
API(isc_dsql_fetch); API(isc_dsql_free_statement); API(isc_dsql_sql_info); API(fb_interpret);
API(fb_sqlstate); API(isc_decode_sql_date); API(isc_detach_database);
API(isc_service_attach); API(isc_service_start); API(isc_service_query); API(isc_service_detach);

/* The engine as wine runs it (reroute.c). */
static HMODULE load_engine(void)
{
    HMODULE client = LoadLibraryA("fbclient.dll");
    if (!client || !wine_reroute(client, ".")) {
        fprintf(stderr, "fbsql: cannot load fbclient.dll and plugins\\engine1[23].dll (error %lu)\n", GetLastError());
        exit(2);
    }
    return client;
}

/* -- SQL --------------------------------------------------------------- */

static ISC_STATUS status[20];
static isc_db_handle db;
static isc_tr_handle tr;
static int failed, autoddl = 1, stats;

static int report(void)
{
    char state[6] = "HY000", text[1024];
    const ISC_STATUS *s = status;
    p_fb_sqlstate(state, status);
    printf("Statement failed, SQLSTATE = %s\n", state);
    for (int first = 1; p_fb_interpret(text, sizeof text, &s) > 0; first = 0)
        printf("%s%s\n", first ? "" : "-", text);
    failed = 1;
    return 1;
}

static void start(void)
{
    tr = 0;
    if (p_isc_start_transaction(status, &tr, 1, &db, 0, NULL))
        report();
}

static void print_value(const XSQLVAR *v)
{
    if ((v->sqltype & 1) && *v->sqlind) {
        printf("<null>");
        return;
    }
    const char *data = v->sqldata;
    const char *text = data;
    int length = v->sqllen;
    switch (v->sqltype & ~1) {
    case SQL_VARYING:
        length = *(const short *)data;
        text = data + 2;
        /* fall through */
    case SQL_TEXT:
        if (v->sqlsubtype == 1) /* OCTETS */
            for (int i = 0; i < length; ++i)
                printf("%02X", (unsigned char)text[i]);
        else
            fwrite(text, 1, (size_t)length, stdout);
        return;
    case SQL_BOOLEAN:
        printf(*data ? "<true>" : "<false>");
        return;
    case SQL_TYPE_DATE: {
        struct tm t;
        p_isc_decode_sql_date((const ISC_DATE *)data, &t);
        printf("%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
        return;
    }
    case SQL_DOUBLE:
        printf("%.15g", *(const double *)data);
        return;
    }
    long long n = 0;
    switch (v->sqltype & ~1) {
    case SQL_SHORT: n = *(const short *)data; break;
    case SQL_LONG: n = *(const int *)data; break;
    case SQL_INT64: n = *(const long long *)data; break;
    default: printf("(type %d)", v->sqltype & ~1); return;
    }
    if (v->sqlscale == 0) {
        printf("%lld", n);
        return;
    }
    long long unit = 1;
    for (int i = 0; i < -v->sqlscale; ++i)
        unit *= 10;
    printf("%s%lld.%0*lld", n < 0 ? "-" : "", llabs(n / unit), -v->sqlscale, llabs(n % unit));
}

static void print_row(const XSQLDA *out)
{
    for (int i = 0; i < out->sqld; ++i) {
        const XSQLVAR *v = &out->sqlvar[i];
        printf("%-31.*s ", v->aliasname_length, v->aliasname);
        print_value(v);
        printf("\n");
    }
    printf("\n");
}

static int statement_type(isc_stmt_handle stmt)
{
    char item = isc_info_sql_stmt_type, buffer[16];
    if (p_isc_dsql_sql_info(status, &stmt, 1, &item, sizeof buffer, buffer) || buffer[0] != isc_info_sql_stmt_type)
        return 0;
    return buffer[3] | buffer[4] << 8;
}

static void run(const char *sql)
{
    isc_stmt_handle stmt = 0;
    XSQLDA *out = calloc(1, XSQLDA_LENGTH(1));
    out->version = SQLDA_VERSION1;
    out->sqln = 1;
    if (p_isc_dsql_allocate_statement(status, &db, &stmt) || p_isc_dsql_prepare(status, &tr, &stmt, 0, sql, 3, out)) {
        report();
        goto done;
    }
    if (out->sqld > out->sqln) {
        int n = out->sqld;
        out = realloc(out, XSQLDA_LENGTH(n));
        out->sqln = (short)n;
        out->version = SQLDA_VERSION1;
        if (p_isc_dsql_describe(status, &stmt, 1, out)) {
            report();
            goto done;
        }
    }
    for (int i = 0; i < out->sqld; ++i) {
        XSQLVAR *v = &out->sqlvar[i];
        v->sqldata = calloc(1, (size_t)v->sqllen + 2);
        v->sqlind = calloc(1, sizeof(short));
    }
    const int type = statement_type(stmt);
    if (type == isc_info_sql_stmt_select || type == isc_info_sql_stmt_select_for_upd) {
        if (p_isc_dsql_execute(status, &tr, &stmt, 1, NULL)) {
            report();
            goto done;
        }
        ISC_STATUS fetched;
        while ((fetched = p_isc_dsql_fetch(status, &stmt, 1, out)) == 0)
            print_row(out);
        if (fetched != 100)
            report();
    } else if (p_isc_dsql_execute2(status, &tr, &stmt, 1, NULL, out->sqld ? out : NULL)) {
        report();
    } else {
        if (out->sqld)
            print_row(out);
        /* As isql: DDL is committed at once, and undone if that fails. */
        if (type == isc_info_sql_stmt_ddl && autoddl && p_isc_commit_retaining(status, &tr)) {
            report();
            p_isc_rollback_transaction(status, &tr);
            start();
        }
    }
done:
    p_isc_dsql_free_statement(status, &stmt, DSQL_drop);
    free(out);
}

/* The script's next statement, or NULL at its end; *term may change. */
static char *next_statement(char **cursor, char *term)
{
    char *p = *cursor, *start;
    while (*p && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'))
        ++p;
    if (!*p)
        return NULL;
    start = p;
    const size_t term_length = strlen(term);
    while (*p) {
        if (p[0] == '-' && p[1] == '-') {
            while (*p && *p != '\n')
                ++p;
        } else if (p[0] == '/' && p[1] == '*') {
            char *end = strstr(p + 2, "*/");
            p = end ? end + 2 : p + strlen(p);
        } else if (*p == '\'' || *p == '"') {
            const char quote = *p++;
            while (*p && !(*p == quote && p[1] != quote))
                p += (*p == quote) ? 2 : 1;
            if (*p)
                ++p;
        } else if (strncmp(p, term, term_length) == 0) {
            *p = '\0';
            *cursor = p + term_length;
            return start;
        } else {
            ++p;
        }
    }
    *cursor = p;
    return start;
}

/* The statement without the comments in front of it. */
static char *strip_comments(char *s)
{
    for (;;) {
        while (*s == ' ' || *s == '\t' || *s == '\r' || *s == '\n')
            ++s;
        if (s[0] == '-' && s[1] == '-')
            s = strchr(s, '\n') ? strchr(s, '\n') : s + strlen(s);
        else if (s[0] == '/' && s[1] == '*')
            s = strstr(s, "*/") ? strstr(s, "*/") + 2 : s + strlen(s);
        else
            return s;
    }
}

static int starts(const char *s, const char *word)
{
    return _strnicmp(s, word, strlen(word)) == 0;
}

static int bail;

/* Runs the script at path; INPUT names another, beside it. */
static void run_script(const char *path)
{
    FILE *f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "fbsql: cannot read %s\n", path);
        exit(2);
    }
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    char *script = calloc(1, (size_t)size + 1), *cursor = script, *statement, term[16] = ";";
    if (fread(script, 1, (size_t)size, f) != (size_t)size)
        exit(2);
    fclose(f);
    while ((statement = next_statement(&cursor, term)) != NULL) {
        char *s = strip_comments(statement);
        if (!*s)
            continue;
        if (starts(s, "SET TERM ")) {
            snprintf(term, sizeof term, "%s", strip_comments(s + 9));
            for (char *t = term + strlen(term); t > term && (t[-1] == ' ' || t[-1] == '\n' || t[-1] == '\r');)
                *--t = '\0';
        } else if (starts(s, "INPUT ")) {
            char other[MAX_PATH];
            const char *slash = strrchr(path, '\\');
            snprintf(other, sizeof other, "%.*s%s", slash ? (int)(slash - path + 1) : 0, path, strip_comments(s + 6));
            run_script(other);
        } else if (starts(s, "SET BAIL ON")) {
            bail = 1;
        } else if (starts(s, "SET AUTODDL OFF")) {
            autoddl = 0;
        } else if (starts(s, "SET AUTODDL ON")) {
            autoddl = 1;
        } else if (starts(s, "SET STATS ON")) {
            stats = 1;
        } else if (starts(s, "SET LIST") || starts(s, "SET PLAN") || starts(s, "SET HEADING") ||
                   starts(s, "SET ECHO") || starts(s, "SET STATS") || starts(s, "SET NAMES")) {
            /* isql's own: the output is always a list */
        } else if (starts(s, "COMMIT")) {
            if (p_isc_commit_transaction(status, &tr))
                report();
            start();
        } else if (starts(s, "ROLLBACK")) {
            if (p_isc_rollback_transaction(status, &tr))
                report();
            start();
        } else {
            LARGE_INTEGER frequency, started, ended;
            QueryPerformanceFrequency(&frequency);
            QueryPerformanceCounter(&started);
            run(s);
            QueryPerformanceCounter(&ended);
            if (stats) /* as isql's SET STATS prints it, for the benchmark */
                printf("Elapsed time = %.3f sec\n", (double)(ended.QuadPart - started.QuadPart) / (double)frequency.QuadPart);
        }
        fflush(stdout);
        if (failed && bail)
            exit(1);
    }
    free(script);
}

/* gbak -b through the service manager, as SYSDBA: its lines printed. */
static int back_up(const char *database, const char *file)
{
    isc_svc_handle service = 0;
    char spb[64] = {isc_spb_version, isc_spb_current_version, isc_spb_user_name, 6, 'S', 'Y', 'S', 'D', 'B', 'A'};
    if (p_isc_service_attach(status, 0, "service_mgr", &service, 10, spb))
        return report(), 1;
    char request[2048], *r = request;
    *r++ = isc_action_svc_backup;
    const char *names[] = {database, file};
    const char tags[] = {isc_spb_dbname, isc_spb_bkp_file};
    for (int i = 0; i < 2; ++i) {
        const size_t n = strlen(names[i]);
        *r++ = tags[i];
        *r++ = (char)(n & 0xff);
        *r++ = (char)(n >> 8);
        memcpy(r, names[i], n);
        r += n;
    }
    if (p_isc_service_start(status, &service, NULL, (unsigned short)(r - request), request))
        return report(), 1;
    char item = isc_info_svc_line, buffer[1024];
    for (;;) {
        if (p_isc_service_query(status, &service, NULL, 0, NULL, 1, &item, sizeof buffer, buffer))
            return report(), 1;
        const int n = (unsigned char)buffer[1] | (unsigned char)buffer[2] << 8;
        if (buffer[0] != isc_info_svc_line || n == 0)
            break;
        printf("%.*s\n", n, buffer + 3);
    }
    p_isc_service_detach(status, &service);
    return 0;
}

int main(int argc, char **argv)
{
    int backup = argc == 4 && strcmp(argv[1], "-backup") == 0;
    argc -= backup, argv += backup;
    int utf8 = argc > 1 && strcmp(argv[1], "-utf8") == 0;
    argc -= utf8, argv += utf8;
    const char *user = "SYSDBA";
    if (argc > 2 && strcmp(argv[1], "-user") == 0) {
        user = argv[2];
        argc -= 2, argv += 2;
    }
    int create = argc > 1 && strcmp(argv[1], "-create") == 0;
    if (argc < 2 + create) {
        fprintf(stderr, "usage: fbsql.exe [-utf8] [-user NAME] [-create] DATABASE [SCRIPT]\n"
                        "       fbsql.exe -backup DATABASE FILE\n");
        return 2;
    }
    HMODULE client = load_engine();
#define LOAD(name) p_##name = (__typeof__(p_##name))(void (*)(void))GetProcAddress(client, #name)
    LOAD(isc_attach_database); LOAD(isc_create_database); LOAD(isc_start_transaction); LOAD(isc_commit_transaction);
    LOAD(isc_commit_retaining); LOAD(isc_rollback_transaction); LOAD(isc_dsql_allocate_statement);
    LOAD(isc_dsql_prepare); LOAD(isc_dsql_describe); LOAD(isc_dsql_execute); LOAD(isc_dsql_execute2);
    LOAD(isc_dsql_fetch); LOAD(isc_dsql_free_statement); LOAD(isc_dsql_sql_info); LOAD(fb_interpret);
    LOAD(fb_sqlstate); LOAD(isc_decode_sql_date); LOAD(isc_detach_database);
    LOAD(isc_service_attach); LOAD(isc_service_start); LOAD(isc_service_query); LOAD(isc_service_detach);
    if (backup)
        return back_up(argv[1], argv[2]);

    const char *path = argv[1 + create];
    char dpb[128] = {isc_dpb_version1, isc_dpb_user_name, (char)strlen(user)};
    memcpy(dpb + 3, user, strlen(user));
    short length = (short)(3 + strlen(user));
    if (utf8) {
        memcpy(dpb + length, (const char[]){isc_dpb_lc_ctype, 4, 'U', 'T', 'F', '8'}, 6);
        length += 6;
    }
    if (create) {
        memcpy(dpb + length, (const char[]){isc_dpb_set_db_charset, 4, 'U', 'T', 'F', '8', isc_dpb_sql_dialect, 1, 3}, 9);
        if (p_isc_create_database(status, 0, path, &db, (short)(length + 9), dpb, 3))
            return report(), 1;
    } else if (p_isc_attach_database(status, 0, path, &db, length, dpb)) {
        return report(), 1;
    }
    start();
    if (argc > 2 + create)
        run_script(argv[2 + create]);
    if (tr)
        p_isc_commit_transaction(status, &tr);
    p_isc_detach_database(status, &db);
    return failed;
}
