/*
 * reroute: what Firebird's Windows engine needs from wine to run, for the
 * tests that run it there (fbsql.exe, the upgrade tool's driver).  Wine
 * runs the engine once a few calls behave as on Windows, which this
 * arranges in the import tables of the client and the engine before the
 * first attach: private namespaces (CreateBoundaryDescriptorA,
 * unimplemented in wine) fail as where Windows refuses them, and a mapped
 * file's name, which wine gives as \??\C:\..., comes back through a device
 * name that QueryDosDeviceA and GetLogicalDrives know, as on Windows.
 * Some builds take the mapped file's name from KERNEL32, others from PSAPI.
 */
#include "reroute.h"

#include <psapi.h>
#include <stdio.h>
#include <string.h>


static HANDLE WINAPI no_boundary(LPCSTR name, ULONG flags)
{
    (void)name, (void)flags;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return NULL;
}

static DWORD WINAPI mapped_name(HANDLE process, LPVOID address, LPSTR name, DWORD size)
{
    char wine[2 * MAX_PATH];
    DWORD n = K32GetMappedFileNameA(process, address, wine, sizeof wine);
    if (n >= 6 && memcmp(wine, "\\??\\", 4) == 0 && wine[5] == ':')
        n = (DWORD)snprintf(name, size, "\\Device\\Wine%c%s", wine[4], wine + 6);
    else
        n = (DWORD)snprintf(name, size, "%s", wine);
    return n < size ? n : 0;
}

static DWORD WINAPI dos_device(LPCSTR drive, LPSTR target, DWORD size)
{
    if (drive && strlen(drive) == 2 && drive[1] == ':' && size >= 16) {
        int n = snprintf(target, size, "\\Device\\Wine%c", drive[0]);
        target[n + 1] = '\0';
        return (DWORD)n + 2;
    }
    return QueryDosDeviceA(drive, target, size);
}

static DWORD WINAPI logical_drives(void)
{
    return GetLogicalDrives() | (1u << ('C' - 'A')) | (1u << ('Z' - 'A'));
}

/* Points the module's import of dll!function at replacement. */
static void reroute(HMODULE module, const char *dll, const char *function, void *replacement)
{
    BYTE *base = (BYTE *)module;
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + imports.VirtualAddress); d->Name; ++d) {
        if (_stricmp((char *)(base + d->Name), dll) != 0)
            continue;
        IMAGE_THUNK_DATA *name = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA *address = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++address) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) ||
                strcmp((char *)((IMAGE_IMPORT_BY_NAME *)(base + name->u1.AddressOfData))->Name, function) != 0)
                continue;
            DWORD old;
            VirtualProtect(&address->u1.Function, sizeof(void *), PAGE_READWRITE, &old);
            address->u1.Function = (ULONG_PTR)replacement;
            VirtualProtect(&address->u1.Function, sizeof(void *), old, &old);
        }
    }
}

/* The engine of Firebird 3 (engine12) or 4 and 5 (engine13) below root,
 * loaded, and both it and the client pointed at what wine lacks. */
int wine_reroute(HMODULE client, const char *root)
{
    char path[MAX_PATH * 2];
    snprintf(path, sizeof path, "%s\\plugins\\engine13.dll", root);
    HMODULE engine = LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!engine) {
        snprintf(path, sizeof path, "%s\\plugins\\engine12.dll", root);
        engine = LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    if (!client || !engine)
        return 0;
    HMODULE modules[] = {client, engine};
    for (int i = 0; i < 2; ++i) {
        reroute(modules[i], "KERNEL32.dll", "CreateBoundaryDescriptorA", (void *)no_boundary);
        reroute(modules[i], "KERNEL32.dll", "K32GetMappedFileNameA", (void *)mapped_name);
        reroute(modules[i], "PSAPI.DLL", "GetMappedFileNameA", (void *)mapped_name);
        reroute(modules[i], "KERNEL32.dll", "QueryDosDeviceA", (void *)dos_device);
        reroute(modules[i], "KERNEL32.dll", "GetLogicalDrives", (void *)logical_drives);
    }
    return 1;
}
