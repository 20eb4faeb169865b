// What the two extension modules (`_vellox` and `_native`) share: the owning
// handle, the dictionary keys, the converters from core results to Python
// objects, and the one mapping of a core error to a Python exception. Each
// module includes it once, after <Python.h>.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "image.h"
#include "layout.h"
#include "object.h"
#include "serialize.h"
#include "tables.h"

namespace vellox_py {

// ------------------------------------------------------------ owned handle

// Owns one strong reference. Every early return drops what was built so
// far; `release` hands the reference to an API that steals it.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* p) : p_(p) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

// Dictionary keys of the result trees. Each module makes them once, with
// the module, so a call neither creates them nor churns the interpreter's
// table of interned strings.
enum Key : int {
    kVersion,
    kPages,
    kPage,
    kWidth,
    kHeight,
    kLines,
    kNeedsOcr,
    kTables,
    kImages,
    kText,
    kX,
    kY,
    kRows,
    kCols,
    kCells,
    kName,
    kFormat,
    kBitsPerComponent,
    kColorSpace,
    kPageCount,
    kEncryption,
    kTitle,
    kAuthor,
    kSubject,
    kKeywords,
    kCreator,
    kProducer,
    kCreated,
    kModified,
    kRotation,
    kOutline,
    kLevel,
    kKeyCount,
};

inline constexpr const char* kKeyNames[kKeyCount] = {
    "version",     "pages",      "page",       "width",   "height",   "lines",
    "needs_ocr",   "tables",     "images",     "text",    "x",        "y",
    "rows",        "cols",       "cells",      "name",    "format",   "bits_per_component",
    "color_space", "page_count", "encryption", "title",   "author",   "subject",
    "keywords",    "creator",    "producer",   "created", "modified", "rotation",
    "outline",     "level",
};

using Keys = PyObject* const*;

// Fills `keys`; false with an exception set when the interpreter fails.
inline bool make_keys(PyObject** keys) {
    for (int i = 0; i < kKeyCount; ++i) keys[i] = nullptr;
    for (int i = 0; i < kKeyCount; ++i) {
        keys[i] = PyUnicode_InternFromString(kKeyNames[i]);
        if (keys[i] == nullptr) return false;
    }
    return true;
}

// ------------------------------------------------------------ converters

// The core's text is UTF-8; a stray invalid byte becomes U+FFFD rather than
// failing a whole call.
inline PyObject* to_str(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

// Finite doubles become floats; infinities and NaN become None, as they are
// `null` in the JSON text.
inline PyObject* to_float(double value) {
    if (!std::isfinite(value)) return Py_NewRef(Py_None);
    return PyFloat_FromDouble(value);
}

inline PyObject* to_uint(std::uint64_t value) {
    return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value));
}

// Sets `key` to a new reference `value`, consuming it in every case.
inline bool put(PyObject* dict, PyObject* key, PyObject* value) {
    Ref owned(value);
    if (!owned) return false;
    return PyDict_SetItem(dict, key, owned.get()) == 0;
}

// Builds a list of `items.size()` elements with `convert`, which returns a
// new reference or nullptr with an exception set.
template <class Items, class Convert>
PyObject* to_list(const Items& items, Convert convert) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (const auto& item : items) {
        PyObject* element = convert(item);
        if (element == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), i++, element);  // steals
    }
    return list.release();
}

inline PyObject* line_to_py(Keys k, const vellox_core::Line& line) {
    Ref dict(PyDict_New());
    if (!dict || !put(dict.get(), k[kText], to_str(line.text)) ||
        !put(dict.get(), k[kX], to_float(line.x)) || !put(dict.get(), k[kY], to_float(line.y))) {
        return nullptr;
    }
    return dict.release();
}

inline PyObject* table_to_py(Keys k, const vellox_core::Table& table) {
    Ref dict(PyDict_New());
    if (!dict || !put(dict.get(), k[kRows], to_uint(table.rows)) ||
        !put(dict.get(), k[kCols], to_uint(table.cols))) {
        return nullptr;
    }
    PyObject* cells = to_list(table.cells, [](const std::vector<std::string>& row) {
        return to_list(row, [](const std::string& cell) { return to_str(cell); });
    });
    if (!put(dict.get(), k[kCells], cells)) return nullptr;
    return dict.release();
}

inline PyObject* image_to_py(Keys k, const vellox_core::ParsedImage& image) {
    Ref dict(PyDict_New());
    if (!dict || !put(dict.get(), k[kName], to_str(image.name)) ||
        !put(dict.get(), k[kFormat], to_str(vellox_core::format_name(image.format))) ||
        !put(dict.get(), k[kWidth], to_uint(image.width)) ||
        !put(dict.get(), k[kHeight], to_uint(image.height)) ||
        !put(dict.get(), k[kBitsPerComponent], to_uint(image.bits_per_component)) ||
        !put(dict.get(), k[kColorSpace], to_str(image.color_space))) {
        return nullptr;
    }
    return dict.release();
}

inline PyObject* page_to_py(Keys k, const vellox_core::PageText& page) {
    Ref dict(PyDict_New());
    if (!dict || !put(dict.get(), k[kPage], to_uint(page.number)) ||
        !put(dict.get(), k[kWidth], to_float(page.width)) ||
        !put(dict.get(), k[kHeight], to_float(page.height)) ||
        !put(dict.get(), k[kRotation], PyLong_FromLong(page.rotation)) ||
        !put(dict.get(), k[kLines],
             to_list(page.lines, [k](const vellox_core::Line& l) { return line_to_py(k, l); })) ||
        !put(dict.get(), k[kNeedsOcr], PyBool_FromLong(page.needs_ocr ? 1 : 0)) ||
        !put(
            dict.get(), k[kTables],
            to_list(page.tables, [k](const vellox_core::Table& t) { return table_to_py(k, t); })) ||
        !put(dict.get(), k[kImages], to_list(page.images, [k](const vellox_core::ParsedImage& i) {
                 return image_to_py(k, i);
             }))) {
        return nullptr;
    }
    return dict.release();
}

inline PyObject* doc_to_py(Keys k, const vellox_core::ExtractedDoc& doc) {
    Ref dict(PyDict_New());
    if (!dict || !put(dict.get(), k[kVersion], to_str(doc.version)) ||
        !put(dict.get(), k[kPages], to_list(doc.pages, [k](const vellox_core::PageText& p) {
                 return page_to_py(k, p);
             }))) {
        return nullptr;
    }
    return dict.release();
}

// ------------------------------------------------------------ errors

// The only place a core error meets Python: ValueError("Kind: message").
inline PyObject* to_pyerr(const vellox_core::Error& error) {
    Ref text(to_str(error.to_string()));
    if (text) PyErr_SetObject(PyExc_ValueError, text.get());
    return nullptr;
}

// The unqualified type name, as `type(value).__name__` prints it.
inline std::string type_name(PyObject* value) {
    std::string_view name = Py_TYPE(value)->tp_name;
    if (auto dot = name.rfind('.'); dot != std::string_view::npos) name.remove_prefix(dot + 1);
    return std::string(name);
}

// "argument 'data': 'bytearray' object cannot be converted to 'PyBytes'"
inline PyObject* wrong_type(const char* param, PyObject* value, const char* target) {
    PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object cannot be converted to '%s'", param,
                 type_name(value).c_str(), target);
    return nullptr;
}

// The password as the UTF-8 bytes the security handler takes: empty for
// None. The bytes are cached inside the str object, so they live as long as
// the argument. Lone surrogates raise the interpreter's UnicodeEncodeError.
inline bool password_arg(PyObject* password, vellox_core::ByteView& out) {
    out = vellox_core::ByteView();
    if (password == Py_None) return true;
    if (!PyUnicode_Check(password)) {
        wrong_type("password", password, "PyString");
        return false;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(password, &size);
    if (utf8 == nullptr) return false;
    out = vellox_core::ByteView(reinterpret_cast<const std::uint8_t*>(utf8),
                                static_cast<std::size_t>(size));
    return true;
}

}  // namespace vellox_py
