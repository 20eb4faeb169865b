// The CPython extension module `_vellox`: four functions that take the bytes
// of a PDF and an optional password, run the core, and hand back the result
// as a dict, JSON, HTML or Markdown. This file knows nothing of PDF; it only
// converts arguments, results and errors between Python and the core.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <exception>
#include <new>
#include <utility>

#include "convert.h"
#include "doc.h"
#include "object.h"
#include "serialize.h"

namespace {

using namespace vellox_py;
using vellox_core::ByteView;
using vellox_core::Document;
using vellox_core::ExtractedDoc;

// Per-module state: the exception type raised when a C++ failure escapes,
// and the keys.
struct ModuleState {
    PyObject* panic_type;
    PyObject* keys[kKeyCount];
};

ModuleState* state_of(PyObject* module) {
    return static_cast<ModuleState*>(PyModule_GetState(module));
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
    return password_arg(password, out.password);
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
            // The lines come in reading order (columns, blocks, tables row
            // by row), as the package's functions give them by default:
            // these fixed signatures have no place for an order.
            vellox_core::ExtractOptions options;
            options.images =
                text_only ? vellox_core::ImageDetail::PresenceOnly : vellox_core::ImageDetail::Full;
            options.order = vellox_core::ReadingOrder::Columns;
            return document->extract(options);
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
    if (!make_keys(state->keys)) return nullptr;

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
