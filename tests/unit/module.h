// Loads the built module and resolves its entry points by their exported
// names, as the server does.
#pragma once

#include "morvanfn.h"

#include <ctime>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

class Module {
public:
    Module()
    {
#ifdef _WIN32
        handle_ = LoadLibraryA(MORVANFN_MODULE_PATH);
#else
        handle_ = dlopen(MORVANFN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
#endif
    }

    bool loaded() const { return handle_ != nullptr; }

    void *symbol(const std::string &name) const
    {
        if (!handle_)
            return nullptr;
#ifdef _WIN32
        return reinterpret_cast<void *>(GetProcAddress(handle_, name.c_str()));
#else
        return dlsym(handle_, name.c_str());
#endif
    }

    template <typename F>
    F *entry(const std::string &name) const
    {
        return reinterpret_cast<F *>(symbol(name));
    }

private:
#ifdef _WIN32
    HMODULE handle_;
#else
    void *handle_;
#endif
};

// The local calendar time of t, as the date functions read it.
inline struct tm local_time(time_t t)
{
    struct tm local;
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    return local;
}

// The six entry points as loaded from the module; tests call these, not the
// functions linked into the test program.
struct EntryPoints {
    Module module;
    decltype(&fn_shortdate) shortdate = module.entry<decltype(fn_shortdate)>("_fn_shortdate");
    decltype(&fn_curryr) curryr = module.entry<decltype(fn_curryr)>("_fn_curryr");
    decltype(&fn_strlen) strlen = module.entry<decltype(fn_strlen)>("_fn_strlen");
    decltype(&fn_strcat) strcat = module.entry<decltype(fn_strcat)>("_fn_strcat");
    decltype(&fn_fullcat) fullcat = module.entry<decltype(fn_fullcat)>("_fn_fullcat");
    decltype(&fn_pad) pad = module.entry<decltype(fn_pad)>("_fn_pad");

    static const EntryPoints &get()
    {
        static const EntryPoints loaded;
        return loaded;
    }
};
