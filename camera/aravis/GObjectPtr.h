// RAII for the GLib objects the Aravis transport holds.
#pragma once

#include <memory>

#include <glib-object.h>

namespace KZRGENICAM::detail {

struct SGObjectUnref {
    void operator()(gpointer object) const {
        if (object) g_object_unref(object);
    }
};

/// Owns one reference of a GObject.
template <class T>
using GObjectPtr = std::unique_ptr<T, SGObjectUnref>;

/// The GError out-parameter of one Aravis call; freed when it goes out of scope.
class CGError {
public:
    CGError() = default;
    ~CGError() { Clear(); }
    CGError(const CGError&) = delete;
    CGError& operator=(const CGError&) = delete;

    GError** Out() {
        Clear();
        return &m_error;
    }
    GError* Get() const { return m_error; }
    explicit operator bool() const { return m_error != nullptr; }
    void Clear() {
        if (m_error) g_error_free(m_error);
        m_error = nullptr;
    }

private:
    GError* m_error = nullptr;
};

}  // namespace KZRGENICAM::detail
