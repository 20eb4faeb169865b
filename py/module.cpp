// The CPython extension module `_vellox`: four functions that take the bytes
// of a PDF and an optional password, run the core, and hand back the result
// as a dict, JSON, HTML or Markdown. This file knows nothing of PDF; it only
// converts arguments, results and errors between Python and the core.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cmath>
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "doc.h"
#include "image.h"
#include "layout.h"
#include "object.h"
#include "serialize.h"
#include "tables.h"

namespace {

using vellox_core::ByteView;
using vellox_core::Document;
using vellox_core::Error;
using vellox_core::ExtractedDoc;

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

// Dictionary keys of the `parse` tree. They are made once, with the module,
// so each call neither creates them nor churns the interpreter's table of
// interned strings.
// clang-format off
enum Key : int {
    kVersion, kPages, kWidth, kHeight, kLines, kNeedsOcr, kTables, kImages, kText, kX, kY,
    kRows, kCols, kCells, kName, kFormat, kBitsPerComponent, kColorSpace, kRotation, kKeyCount,
};

constexpr const char* kKeyNames[kKeyCount] = {
    "version", "pages", "width", "height", "lines", "needs_ocr", "tables", "images", "text",
    "x", "y", "rows", "cols", "cells", "name", "format", "bits_per_component", "color_space",
    "rotation",
};
// clang-format on

// Per-module state: the exception type raised when a C++ failure escapes,
// and the keys.
struct ModuleState {
    PyObject* panic_type;
    PyObject* keys[kKeyCount];
};

ModuleState* state_of(PyObject* module) {
    return static_cast<ModuleState*>(PyModule_GetState(module));
}

// ------------------------------------------------------------ converters

// The core's text is UTF-8; a stray invalid byte becomes U+FFFD rather than
// failing a whole call.
PyObject* to_str(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

// Finite doubles become floats; infinities and NaN become None, as they are
// `null` in the JSON text.
PyObject* to_float(double value) {
    if (!std::isfinite(value)) return Py_NewRef(Py_None);
    return PyFloat_FromDouble(value);
}

PyObject* to_uint(std::uint64_t value) {
    return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value));
}

// Sets `key` to a new reference `value`, consuming it in every case.
bool put(PyObject* dict, PyObject* key, PyObject* value) {
    Ref owned(value);
    if (!owned) return false;
    return PyDict_SetItem(dict, key, owned.get()) == 0;
}

using Keys = PyObject* const*;

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

PyObject* line_to_py(Keys k, const vellox_core::Line& line) {
    Ref dict(PyDict_New());
    if (!dict || !put(dict.get(), k[kText], to_str(line.text)) ||
        !put(dict.get(), k[kX], to_float(line.x)) || !put(dict.get(), k[kY], to_float(line.y))) {
        return nullptr;
    }
    return dict.release();
}

PyObject* table_to_py(Keys k, const vellox_core::Table& table) {
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

PyObject* image_to_py(Keys k, const vellox_core::ParsedImage& image) {
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

PyObject* page_to_py(Keys k, const vellox_core::PageText& page) {
    Ref dict(PyDict_New());
    if (!dict || !put(dict.get(), k[kWidth], to_float(page.width)) ||
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

PyObject* doc_to_py(Keys k, const ExtractedDoc& doc) {
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
PyObject* to_pyerr(const Error& error) {
    Ref text(to_str(error.to_string()));
    if (text) PyErr_SetObject(PyExc_ValueError, text.get());
    return nullptr;
}

// "argument 'data': 'bytearray' object cannot be converted to 'PyBytes'"
PyObject* wrong_type(const char* param, PyObject* value, const char* target) {
    // The unqualified type name, as `type(value).__name__` prints it.
    std::string_view type_name = Py_TYPE(value)->tp_name;
    if (auto dot = type_name.rfind('.'); dot != std::string_view::npos) {
        type_name.remove_prefix(dot + 1);
    }
    std::string name(type_name);
    PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object cannot be converted to '%s'", param,
                 name.c_str(), target);
    return nullptr;
}

// ------------------------------------------------------------ the calls

struct Args {
    ByteView data;
    ByteView password;
};

// Parses `(data, password=None)`. The byte views borrow from the argument
// objects, which the caller keeps alive for the whole call.
bool parse_args(PyObject* args, PyObject* kwargs, const char* format, Args& out) {
    static const char* kwlist[] = {"data", "password", nullptr};
    PyObject* data = nullptr;
    PyObject* password = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(kwlist), &data,
                                     &password)) {
        return false;
    }
    if (!PyBytes_Check(data)) {
        wrong_type("data", data, "PyBytes");
        return false;
    }
    out.data = ByteView(reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(data)),
                        static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
    out.password = ByteView();
    if (password != Py_None) {
        if (!PyUnicode_Check(password)) {
            wrong_type("password", password, "PyString");
            return false;
        }
        Py_ssize_t size = 0;
        // Cached inside the str object, so it lives as long as the argument.
        // Lone surrogates raise the interpreter's UnicodeEncodeError here.
        const char* utf8 = PyUnicode_AsUTF8AndSize(password, &size);
        if (utf8 == nullptr) return false;
        out.password =
            ByteView(reinterpret_cast<const std::uint8_t*>(utf8), static_cast<std::size_t>(size));
    }
    return true;
}

enum class Form { Dict, Json, Html, Markdown };

PyObject* run(PyObject* module, PyObject* args, PyObject* kwargs, const char* format, Form form) {
    try {
        Args a;
        if (!parse_args(args, kwargs, format, a)) return nullptr;
        auto extracted = [&]() -> vellox_core::Result<ExtractedDoc> {
            auto document = Document::parse_with_password(a.data, a.password);
            if (!document) return std::move(document).error();
            // The text forms show of images only whether a page needs OCR.
            // The Document is dropped on return.
            const bool text_only = form == Form::Markdown || form == Form::Html;
            return document->extract(text_only ? vellox_core::ImageDetail::PresenceOnly
                                               : vellox_core::ImageDetail::Full);
        }();
        if (!extracted) return to_pyerr(extracted.error());
        const ExtractedDoc& doc = extracted.value();
        switch (form) {
            case Form::Dict: return doc_to_py(state_of(module)->keys, doc);
            case Form::Json: return to_str(doc.to_json());
            case Form::Html: return to_str(doc.to_html());
            case Form::Markdown: return to_str(doc.to_markdown());
        }
        PyErr_SetString(PyExc_SystemError, "unknown output form");
        return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(state_of(module)->panic_type, e.what());
        return nullptr;
    } catch (...) {
        PyErr_SetString(state_of(module)->panic_type, "unknown internal failure");
        return nullptr;
    }
}

PyObject* py_parse(PyObject* module, PyObject* args, PyObject* kwargs) {
    return run(module, args, kwargs, "O|O:parse", Form::Dict);
}
PyObject* py_parse_to_json(PyObject* module, PyObject* args, PyObject* kwargs) {
    return run(module, args, kwargs, "O|O:parse_to_json", Form::Json);
}
PyObject* py_parse_to_html(PyObject* module, PyObject* args, PyObject* kwargs) {
    return run(module, args, kwargs, "O|O:parse_to_html", Form::Html);
}
PyObject* py_parse_to_markdown(PyObject* module, PyObject* args, PyObject* kwargs) {
    return run(module, args, kwargs, "O|O:parse_to_markdown", Form::Markdown);
}

// ------------------------------------------------------------ module

PyDoc_STRVAR(parse_doc,
             "parse(data, password=None)\n--\n\n"
             "Parse a PDF and return the extracted document as a native Python dict.");
PyDoc_STRVAR(parse_to_json_doc,
             "parse_to_json(data, password=None)\n--\n\n"
             "Parse a PDF and return its extracted form as pretty JSON.");
PyDoc_STRVAR(parse_to_html_doc,
             "parse_to_html(data, password=None)\n--\n\n"
             "Parse a PDF and render it to a standalone HTML document.");
PyDoc_STRVAR(parse_to_markdown_doc,
             "parse_to_markdown(data, password=None)\n--\n\n"
             "Parse a PDF and render it to Markdown.");
PyDoc_STRVAR(module_doc, "The native extension module (`vellox._vellox`).");

#define VELLOX_METHOD(name)                                                                   \
    {                                                                                         \
#name, reinterpret_cast < PyCFunction>(reinterpret_cast <void (*)(void)>(py_##name)), \
            METH_VARARGS | METH_KEYWORDS, name##_doc                                          \
    }

PyMethodDef methods[] = {
    VELLOX_METHOD(parse),           VELLOX_METHOD(parse_to_json),
    VELLOX_METHOD(parse_to_html),   VELLOX_METHOD(parse_to_markdown),
    {nullptr, nullptr, 0, nullptr},
};

#undef VELLOX_METHOD

int module_traverse(PyObject* module, visitproc visit, void* arg) {
    ModuleState* state = state_of(module);
    Py_VISIT(state->panic_type);
    for (PyObject* key : state->keys) Py_VISIT(key);
    return 0;
}

int module_clear(PyObject* module) {
    ModuleState* state = state_of(module);
    Py_CLEAR(state->panic_type);
    for (PyObject*& key : state->keys) Py_CLEAR(key);
    return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_vellox",    module_doc,  sizeof(ModuleState), methods, nullptr,
    module_traverse,       module_clear, module_free,
};

PyObject* create_module() {
    Ref module(PyModule_Create(&module_def));
    if (!module) return nullptr;
    ModuleState* state = state_of(module.get());
    state->panic_type = nullptr;
    for (int i = 0; i < kKeyCount; ++i) {
        state->keys[i] = PyUnicode_InternFromString(kKeyNames[i]);
        if (state->keys[i] == nullptr) return nullptr;
    }

    // Derived from BaseException so that `except Exception` does not swallow
    // a broken invariant of the library.
    state->panic_type = PyErr_NewExceptionWithDoc(
        "vellox._vellox.PanicException",
        "An internal failure of the native library (a bug, not a bad PDF).", PyExc_BaseException,
        nullptr);
    if (state->panic_type == nullptr) return nullptr;
    if (PyModule_AddObjectRef(module.get(), "PanicException", state->panic_type) < 0) {
        return nullptr;
    }

    Ref all(PyList_New(0));
    if (!all) return nullptr;
    for (const PyMethodDef* m = methods; m->ml_name != nullptr; ++m) {
        Ref name(PyUnicode_FromString(m->ml_name));
        if (!name || PyList_Append(all.get(), name.get()) < 0) return nullptr;
    }
    if (PyModule_AddObjectRef(module.get(), "__all__", all.get()) < 0) return nullptr;
    return module.release();
}

}  // namespace

PyMODINIT_FUNC PyInit__vellox() {
    // The module is built once per process; a second initialization (after
    // it was removed from sys.modules) gets the same object back.
    static PyObject* module = nullptr;
    if (module == nullptr) {
        module = create_module();
        if (module == nullptr) return nullptr;
    }
    return Py_NewRef(module);
}
