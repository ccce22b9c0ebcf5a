#pragma once
// Owning pointers for what GLib hands over, freed by GLib's own function.
#include <memory>

namespace dm {

template <auto Free>
struct GLibDeleter {
    template <class T>
    void operator()(T* p) const
    {
        Free(p);
    }
};

// GLibPtr<char, g_free>, GLibPtr<GKeyFile, g_key_file_free> …
template <class T, auto Free>
using GLibPtr = std::unique_ptr<T, GLibDeleter<Free>>;

} // namespace dm
