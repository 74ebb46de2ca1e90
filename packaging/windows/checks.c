/*
 * The Windows installer's checks: which Firebird server the modules go
 * into, and whether they may go there now.  Windows Installer calls
 * FindServer before it lays out the installation (install, upgrade and
 * uninstall alike, interactive or silent).
 *
 * The server, in this order:
 *   FIREBIRD_ROOT given on the command line (msiexec ... FIREBIRD_ROOT=D:\fb5);
 *   the server an installed copy went into (INSTALLED_ROOT, from our own
 *     registry value: upgrades, repairs and uninstalls keep to it);
 *   the instances Firebird's installer registers under HKLM\SOFTWARE\
 *     Firebird Project\Firebird Server\Instances (the registry view of the
 *     installer's own architecture): DefaultInstance, or the only one.
 * None: it says so, and nothing is installed.
 *
 * The server's bits must be the installer's (from fbclient.dll's header):
 * a 64-bit server takes the x64 installer's modules, a 32-bit one the x86
 * installer's.  A module of ours that a running server has loaded is never
 * replaced or removed under it: the installer names the services of that
 * server and asks for them to be stopped (silent: fails, with that message).
 *
 * The SQL declaration of nothing: this file runs in the installer alone.
 */
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <wchar.h>

#ifdef _WIN64
#define OUR_MACHINE IMAGE_FILE_MACHINE_AMD64
#define OUR_BITS L"64-bit (x64)"
#define OTHER_INSTALLER L"x86"
#else
#define OUR_MACHINE IMAGE_FILE_MACHINE_I386
#define OUR_BITS L"32-bit (x86)"
#define OTHER_INSTALLER L"x64"
#endif

#define TEXT_MAX 2048

static const wchar_t *const instances_key = L"SOFTWARE\\Firebird Project\\Firebird Server\\Instances";

static void property(MSIHANDLE h, const wchar_t *name, wchar_t *value, DWORD size)
{
    value[0] = 0;
    if (MsiGetPropertyW(h, name, value, &size) != ERROR_SUCCESS)
        value[0] = 0;
}

/* A message in the installer's log and, interactive, in a box: with
 * buttons (MB_RETRYCANCEL), the one pressed; silent, 0. */
static int say(MSIHANDLE h, UINT kind, const wchar_t *text)
{
    MSIHANDLE record = MsiCreateRecord(1);
    int answer;
    MsiRecordSetStringW(record, 0, text);
    answer = MsiProcessMessage(h, (INSTALLMESSAGE)kind, record);
    MsiCloseHandle(record);
    return answer;
}

static UINT refuse(MSIHANDLE h, const wchar_t *text)
{
    say(h, INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR, text);
    return ERROR_INSTALL_FAILURE;
}

/* dir with one backslash at its end, as Windows Installer keeps directories. */
static void with_backslash(wchar_t *dir, size_t size)
{
    const size_t n = wcslen(dir);
    if (n > 0 && n + 1 < size && dir[n - 1] != L'\\' && dir[n - 1] != L'/')
        wcscat(dir, L"\\");
}

/* The registered instances: DefaultInstance, else the only one. */
static int registered_root(wchar_t *root, DWORD size, wchar_t *names, size_t names_size)
{
    HKEY key;
    DWORD i, count = 0;
    int found = 0;
    names[0] = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, instances_key, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    for (i = 0;; ++i) {
        wchar_t name[256], value[MAX_PATH];
        DWORD name_size = 256, value_size = sizeof value, type;
        const LONG r = RegEnumValueW(key, i, name, &name_size, NULL, &type, (BYTE *)value, &value_size);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || value_size < sizeof(wchar_t))
            continue;
        value[value_size / sizeof(wchar_t) < MAX_PATH ? value_size / sizeof(wchar_t) : MAX_PATH - 1] = 0;
        if (wcslen(names) + wcslen(name) + wcslen(value) + 8 < names_size) {
            if (names[0])
                wcscat(names, L", ");
            wcscat(names, name);
            wcscat(names, L" (");
            wcscat(names, value);
            wcscat(names, L")");
        }
        ++count;
        if (_wcsicmp(name, L"DefaultInstance") == 0 || (count == 1 && !found)) {
            lstrcpynW(root, value, (int)size);
            found = _wcsicmp(name, L"DefaultInstance") == 0 ? 2 : 1;
        }
    }
    RegCloseKey(key);
    /* Several, none the default: the DBA chooses. */
    return found == 2 || (found == 1 && count == 1);
}

/* The machine a DLL is built for, from its PE header; 0 if unreadable. */
static WORD machine_of(const wchar_t *path)
{
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, 0, NULL);
    IMAGE_DOS_HEADER dos;
    DWORD got = 0, signature = 0;
    IMAGE_FILE_HEADER file;
    WORD machine = 0;
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    if (ReadFile(f, &dos, sizeof dos, &got, NULL) && got == sizeof dos && dos.e_magic == IMAGE_DOS_SIGNATURE &&
        SetFilePointer(f, dos.e_lfanew, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ReadFile(f, &signature, sizeof signature, &got, NULL) && got == sizeof signature &&
        signature == IMAGE_NT_SIGNATURE && ReadFile(f, &file, sizeof file, &got, NULL) && got == sizeof file)
        machine = file.Machine;
    CloseHandle(f);
    return machine;
}

/* True when path exists and someone holds it so that it cannot be
 * replaced or removed (a server that loaded it). */
static int held(const wchar_t *path)
{
    HANDLE f = CreateFileW(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           NULL, OPEN_EXISTING, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) {
        CloseHandle(f);
        return 0;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_USER_MAPPED_FILE;
}

/* The services whose program lies under root, as "A, B". */
static void services_of(const wchar_t *root, wchar_t *names, size_t names_size)
{
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ENUMERATE_SERVICE);
    static BYTE buffer[256 * 1024];
    DWORD needed = 0, count = 0, resume = 0, i;
    names[0] = 0;
    if (!manager)
        return;
    if (EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer, sizeof buffer,
                              &needed, &count, &resume, NULL)) {
        const ENUM_SERVICE_STATUS_PROCESSW *s = (const ENUM_SERVICE_STATUS_PROCESSW *)buffer;
        for (i = 0; i < count; ++i) {
            static BYTE config_buffer[8192];
            QUERY_SERVICE_CONFIGW *config = (QUERY_SERVICE_CONFIGW *)config_buffer;
            SC_HANDLE service = OpenServiceW(manager, s[i].lpServiceName, SERVICE_QUERY_CONFIG);
            wchar_t program[MAX_PATH];
            const wchar_t *p;
            if (!service)
                continue;
            if (QueryServiceConfigW(service, config, sizeof config_buffer, &needed) && config->lpBinaryPathName) {
                p = config->lpBinaryPathName;
                if (*p == L'"')
                    ++p;
                lstrcpynW(program, p, MAX_PATH);
                if (_wcsnicmp(program, root, wcslen(root)) == 0 &&
                    wcslen(names) + wcslen(s[i].lpServiceName) + 3 < names_size) {
                    if (names[0])
                        wcscat(names, L", ");
                    wcscat(names, s[i].lpServiceName);
                }
            }
            CloseServiceHandle(service);
        }
    }
    CloseServiceHandle(manager);
}

/* Our modules in that server, when a running server holds one: asks for it
 * to be stopped until it is (Retry) or the DBA gives up (Cancel). */
static UINT not_in_use(MSIHANDLE h, const wchar_t *root)
{
    static const wchar_t *const ours[] = {L"plugins\\udr\\morvanfn_udr.dll", L"UDF\\morvanfn.dll"};
    wchar_t udf[8], udf_installed[MAX_PATH];
    size_t i;
    /* The UDF module only where it is ours: chosen now, or installed before. */
    property(h, L"INSTALL_UDF", udf, 8);
    property(h, L"INSTALLED_UDF", udf_installed, MAX_PATH);
    for (i = 0; i < sizeof ours / sizeof ours[0]; ++i) {
        if (i == 1 && wcscmp(udf, L"1") != 0 && !udf_installed[0])
            continue;
        wchar_t path[MAX_PATH + 64];
        lstrcpynW(path, root, MAX_PATH);
        wcscat(path, ours[i]);
        while (held(path)) {
            wchar_t services[1024], text[TEXT_MAX];
            services_of(root, services, 1024);
            _snwprintf(text, TEXT_MAX,
                       L"%ls is in use: a running Firebird server has loaded it, and it is never replaced or "
                       L"removed under a server. Stop %ls%ls, then choose Retry (silent: run the installer again). "
                       L"Nothing was changed.",
                       path, services[0] ? L"the service " : L"the Firebird server or program using ",
                       services[0] ? services : root);
            text[TEXT_MAX - 1] = 0;
            if (say(h, INSTALLMESSAGE_ERROR | MB_RETRYCANCEL | MB_ICONWARNING, text) != IDRETRY)
                return ERROR_INSTALL_FAILURE;
        }
    }
    return ERROR_SUCCESS;
}

UINT __stdcall FindServer(MSIHANDLE h)
{
    wchar_t root[MAX_PATH + 2], installed[MAX_PATH + 2], remove[64], text[TEXT_MAX], names[1024], client[MAX_PATH + 32];
    WORD machine;
    DWORD attributes;
    property(h, L"FIREBIRD_ROOT", root, MAX_PATH);
    property(h, L"INSTALLED_ROOT", installed, MAX_PATH);
    property(h, L"REMOVE", remove, 64);
    names[0] = 0;
    /* Uninstall: the server it went into, nothing else. */
    if (_wcsicmp(remove, L"ALL") == 0) {
        if (!installed[0])
            return ERROR_SUCCESS;
        with_backslash(installed, MAX_PATH + 2);
        MsiSetPropertyW(h, L"FIREBIRD_ROOT", installed);
        return not_in_use(h, installed);
    }
    if (!root[0])
        lstrcpynW(root, installed, MAX_PATH);
    if (!root[0] && !registered_root(root, MAX_PATH, names, 1024)) {
        if (names[0])
            _snwprintf(text, TEXT_MAX,
                       L"Several Firebird servers are registered and none is the default: %ls. Name the one to "
                       L"install into: msiexec /i <this installer> FIREBIRD_ROOT=\"<its directory>\". Nothing was installed.",
                       names);
        else
            _snwprintf(text, TEXT_MAX,
                       L"No %ls Firebird server is registered on this computer (HKLM\\%ls), and none was named. Name "
                       L"its directory: msiexec /i <this installer> FIREBIRD_ROOT=\"<its directory>\". Nothing was installed.",
                       OUR_BITS, instances_key);
        text[TEXT_MAX - 1] = 0;
        return refuse(h, text);
    }
    with_backslash(root, MAX_PATH + 2);
    attributes = GetFileAttributesW(root);
    lstrcpynW(client, root, MAX_PATH);
    wcscat(client, L"fbclient.dll");
    machine = machine_of(client);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || machine == 0) {
        _snwprintf(text, TEXT_MAX,
                   L"%ls is not a Firebird server's directory (no fbclient.dll there). Name one with "
                   L"FIREBIRD_ROOT=\"<its directory>\". Nothing was installed.",
                   root);
        text[TEXT_MAX - 1] = 0;
        return refuse(h, text);
    }
    if (machine != OUR_MACHINE) {
        _snwprintf(text, TEXT_MAX,
                   L"The Firebird server in %ls is not %ls: its modules must match its bits. Use the %ls installer "
                   L"(morvanfn-...-%ls.msi) for it. Nothing was installed.",
                   root, OUR_BITS, OTHER_INSTALLER, OTHER_INSTALLER);
        text[TEXT_MAX - 1] = 0;
        return refuse(h, text);
    }
    MsiSetPropertyW(h, L"FIREBIRD_ROOT", root);
    /* An upgrade keeps the UDF module where the older version installed it
     * (unless INSTALL_UDF=0 says otherwise). */
    {
        wchar_t udf[8], udf_installed[MAX_PATH];
        property(h, L"INSTALL_UDF", udf, 8);
        property(h, L"INSTALLED_UDF", udf_installed, MAX_PATH);
        if (!udf[0] && udf_installed[0])
            MsiSetPropertyW(h, L"INSTALL_UDF", L"1");
    }
    return not_in_use(h, root);
}
