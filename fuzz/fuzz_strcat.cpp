// fn_strcat: two texts, each in a buffer of its own length plus one; a result
// buffer of the two trimmed lengths plus one.
#include "../tests/model.h"
#include "fuzz.h"
#include "morvanfn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string a, b;
    fuzz::split(data, size, a, b);
    const std::string want = model::strcat(a, b);
    std::unique_ptr<char[]> arg_a = fuzz::text(a), arg_b = fuzz::text(b);
    std::unique_ptr<char[]> result(new char[want.size() + 1]);

    if (fn_strcat(arg_a.get(), arg_b.get(), result.get()) != result.get())
        fuzz::fail("fn_strcat return", "other address", "the buffer");
    if (std::memcmp(result.get(), want.c_str(), want.size() + 1) != 0)
        fuzz::fail("fn_strcat", result.get(), want);
    // Trimmed in place: the text without its blanks, NUL up to the old end.
    for (const auto &[arg, text] : {std::pair{arg_a.get(), &a}, std::pair{arg_b.get(), &b}}) {
        const std::string trimmed = model::without_trailing_blanks(*text);
        if (std::memcmp(arg, trimmed.c_str(), trimmed.size()) != 0 ||
            std::string(text->size() + 1 - trimmed.size(), '\0') != std::string(arg + trimmed.size(), text->size() + 1 - trimmed.size()))
            fuzz::fail("fn_strcat argument", std::string(arg), trimmed);
    }
    return 0;
}
