// morvanfn-upgrade: what Linux and Windows share (platform.h).
#include "platform.h"

#include "client.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

namespace upgrade {

bool is_absolute(const std::string &path)
{
#ifdef _WIN32
    return (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
           (path.size() > 1 && (path[0] == '\\' || path[0] == '/'));
#else
    return !path.empty() && path[0] == '/';
#endif
}

std::string join(const std::string &dir, const std::string &name)
{
    if (dir.empty())
        return name;
    const char last = dir.back();
    return dir + (last == '/' || last == separator ? "" : std::string(1, separator)) + name;
}

// Where the last separator of path is (Windows takes / as well as \).
static size_t last_separator(const std::string &path)
{
#ifdef _WIN32
    return path.find_last_of("\\/");
#else
    return path.find_last_of('/');
#endif
}

std::string directory_of(const std::string &path)
{
    std::string p = path;
    // A trailing separator names the same directory: a/b/ is a/b.
    while (p.size() > 1 && last_separator(p) == p.size() - 1 && !(p.size() == 3 && p[1] == ':'))
        p.pop_back();
    const size_t at = last_separator(p);
    if (at == std::string::npos)
#ifdef _WIN32
        return p.size() >= 2 && p[1] == ':' ? p.substr(0, 2) : ".";
#else
        return ".";
#endif
    if (at == 0)
        return p.substr(0, 1);
#ifdef _WIN32
    if (at == 2 && p[1] == ':')
        return p.substr(0, 3);
    // \\server\share\name: the share is the top.
    if (p.rfind("\\\\", 0) == 0 && p.find_first_of("\\/", 2) == at)
        return p;
#endif
    return p.substr(0, at);
}

std::string name_of(const std::string &path)
{
    const size_t at = last_separator(path);
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string unique_suffix()
{
    std::random_device device;
    std::mt19937_64 random(device() ^ uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::ostringstream s;
    s << process_id() << '-' << std::hex << (random() & 0xffffffffffULL);
    return s.str();
}

void set_environment(const std::string &name, const std::string &value)
{
#ifdef _WIN32
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

std::string environment(const std::string &name)
{
    const char *v = std::getenv(name.c_str());
    return v ? v : "";
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << text) || !out.flush())
        throw Failure("cannot write " + path);
}

void mirror(const std::string &from, const std::string &to)
{
    if (!is_directory(from))
        return link_or_copy(from, to);
    make_directory(to);
    for (const std::string &n : entries(from))
        mirror(join(from, n), join(to, n));
}

namespace {
std::atomic<bool> stop{false};
}

void note_stop()
{
    stop = true;
}

bool stop_requested()
{
    return stop;
}

void end_process(int status)
{
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace upgrade
