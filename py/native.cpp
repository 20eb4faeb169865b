// The CPython extension module `_native`: the extraction entry points the
// package `vellox` calls. Unlike `_vellox`, whose four functions keep the
// interpreter lock, these run the whole core work (opening, extraction,
// rendering) with the lock released and build the Python result after
// taking it back, so that calls from several threads run in parallel. Like
// `_vellox`, this file knows nothing of PDF.
//
// New options are keyword-only arguments of `extract`, so adding one breaks
// no caller.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cmath>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "convert.h"
#include "doc.h"
#include "docinfo.h"
#include "object.h"
#include "page_selection.h"
#include "serialize.h"

namespace {

using namespace vellox_py;
using vellox_core::ByteView;
using vellox_core::Document;
using vellox_core::ExtractedDoc;
using vellox_core::PageRequest;
using vellox_core::PageSelection;

struct ModuleState {
    PyObject* panic_type;  // vellox._vellox.PanicException, shared
    PyObject* keys[kKeyCount];
};

ModuleState* state_of(PyObject* module) {
    return static_cast<ModuleState*>(PyModule_GetState(module));
}

// ------------------------------------------------------------ arguments

// The bytes of the PDF, stable while the lock is released: a `bytes`
// object (or a memoryview of one) is immutable and is read where it is;
// any other buffer (bytearray, array, mmap...) could change or shrink
// meanwhile, so it is copied once.
class Input {
public:
    Input() = default;
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    ~Input() {
        if (held_) PyBuffer_Release(&view_);
    }

    bool load(PyObject* data) {
        if (PyBytes_Check(data)) {
            owner_ = Ref(Py_NewRef(data));
            bytes_ = ByteView(reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(data)),
                              static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
            return true;
        }
        if (!PyObject_CheckBuffer(data)) {
            PyErr_Format(PyExc_TypeError, "argument 'data': expected a bytes-like object, not '%s'",
                         type_name(data).c_str());
            return false;
        }
        if (PyObject_GetBuffer(data, &view_, PyBUF_SIMPLE) < 0) return false;
        held_ = true;
        const ByteView view(static_cast<const std::uint8_t*>(view_.buf),
                            static_cast<std::size_t>(view_.len));
        const PyObject* base =
            PyMemoryView_Check(data) ? PyMemoryView_GET_BUFFER(data)->obj : nullptr;
        if (base != nullptr && PyBytes_Check(base)) {
            // Held until the call returns: the memoryview cannot be released
            // while it has an export, nor the bytes freed while it is held.
            bytes_ = view;
            return true;
        }
        copy_.assign(view.begin(), view.end());
        PyBuffer_Release(&view_);
        held_ = false;
        bytes_ = copy_;
        return true;
    }

    ByteView bytes() const { return bytes_; }

private:
    Ref owner_;
    Py_buffer view_{};
    bool held_ = false;
    vellox_core::Bytes copy_;
    ByteView bytes_;
};

enum class Form { Dict, Json, Markdown, Html, Text };

// The order `vellox.FORMATS` lists them in.
constexpr std::pair<std::string_view, Form> kForms[] = {
    {"markdown", Form::Markdown}, {"json", Form::Json}, {"html", Form::Html},
    {"text", Form::Text},         {"dict", Form::Dict},
};

bool form_arg(PyObject* value, Form& out) {
    if (!PyUnicode_Check(value)) {
        wrong_type("format", value, "PyString");
        return false;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(value, &size);
    if (text == nullptr) return false;
    const std::string_view name(text, static_cast<std::size_t>(size));
    for (const auto& [known, form] : kForms) {
        if (name == known) {
            out = form;
            return true;
        }
    }
    PyErr_Format(PyExc_ValueError,
                 "unknown format %R; expected one of markdown, json, html, text, dict", value);
    return false;
}

// The order names the package documents: "reading" (columns and blocks)
// and "position" (top to bottom across the page).
bool order_arg(PyObject* value, vellox_core::ReadingOrder& out) {
    if (!PyUnicode_Check(value)) {
        wrong_type("order", value, "PyString");
        return false;
    }
    if (PyUnicode_CompareWithASCIIString(value, "reading") == 0) {
        out = vellox_core::ReadingOrder::Columns;
        return true;
    }
    if (PyUnicode_CompareWithASCIIString(value, "position") == 0) {
        out = vellox_core::ReadingOrder::Position;
        return true;
    }
    PyErr_Format(PyExc_ValueError, "unknown order %R; expected 'reading' or 'position'", value);
    return false;
}

bool int64_arg(PyObject* value, std::int64_t& out) {
    Ref index(PyNumber_Index(value));
    if (!index) return false;
    const long long v = PyLong_AsLongLong(index.get());
    if (v == -1 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

PyObject* wrong_pages(PyObject* value) {
    PyErr_Format(PyExc_TypeError,
                 "argument 'pages': expected an int, a range, a slice or an iterable of them, "
                 "not '%s'",
                 type_name(value).c_str());
    return nullptr;
}

// One int, range or slice; false with an exception set for anything else.
bool page_part(PyObject* value, PageRequest& out) {
    if (PySlice_Check(value)) {
        Py_ssize_t start = 0, stop = 0, step = 0;
        // None becomes the far end in the step's direction; a zero step is
        // the interpreter's ValueError.
        if (PySlice_Unpack(value, &start, &stop, &step) < 0) return false;
        out = {PageRequest::Kind::Slice, start, stop, step};
        return true;
    }
    if (PyRange_Check(value)) {
        std::int64_t bounds[3] = {};
        const char* names[3] = {"start", "stop", "step"};
        for (int i = 0; i < 3; ++i) {
            Ref attr(PyObject_GetAttrString(value, names[i]));
            if (!attr || !int64_arg(attr.get(), bounds[i])) return false;
        }
        out = {PageRequest::Kind::Range, bounds[0], bounds[1], bounds[2]};
        return true;
    }
    // bool is an int, but `pages=True` is a mistake, not page 1.
    if (!PyBool_Check(value) && PyIndex_Check(value)) {
        out = {PageRequest::Kind::Index, 0, 0, 1};
        return int64_arg(value, out.start);
    }
    wrong_pages(value);
    return false;
}

// None (every page), one part, or an iterable of parts.
bool pages_arg(PyObject* value, PageSelection& out) {
    out = PageSelection{};
    if (value == Py_None) return true;
    out.all = false;
    PageRequest part;
    if (PySlice_Check(value) || PyRange_Check(value) ||
        (!PyBool_Check(value) && PyIndex_Check(value))) {
        if (!page_part(value, part)) return false;
        out.parts.push_back(part);
        return true;
    }
    // A str or bytes is iterable, but never a list of pages.
    if (PyUnicode_Check(value) || PyBytes_Check(value) || PyByteArray_Check(value)) {
        wrong_pages(value);
        return false;
    }
    Ref iterator(PyObject_GetIter(value));
    if (!iterator) {
        PyErr_Clear();
        wrong_pages(value);
        return false;
    }
    while (Ref item{PyIter_Next(iterator.get())}) {
        if (!page_part(item.get(), part)) return false;
        out.parts.push_back(part);
    }
    return !PyErr_Occurred();
}

// The call's limits: `timeout` seconds (a float or an int) and `max_bytes`
// decoded bytes (an int), each None for no limit. The package has checked
// them already; what reaches here is still checked, as any argument is.
struct Limits {
    double seconds = 0;
    std::uint64_t max_bytes = 0;
};

bool limits_arg(PyObject* timeout, PyObject* max_bytes, Limits& out) {
    out = Limits{};
    if (timeout != Py_None) {
        if (PyBool_Check(timeout) || !(PyFloat_Check(timeout) || PyLong_Check(timeout))) {
            PyErr_Format(PyExc_TypeError, "timeout must be a number of seconds, not '%s'",
                         type_name(timeout).c_str());
            return false;
        }
        const double seconds = PyFloat_AsDouble(timeout);
        if (seconds == -1.0 && PyErr_Occurred()) return false;
        if (!(seconds > 0) || !std::isfinite(seconds)) {
            PyErr_Format(PyExc_ValueError, "timeout must be a positive number of seconds, not %R",
                         timeout);
            return false;
        }
        out.seconds = seconds;
    }
    if (max_bytes != Py_None) {
        if (PyBool_Check(max_bytes) || !PyLong_Check(max_bytes)) {
            PyErr_Format(PyExc_TypeError, "max_bytes must be an int, not '%s'",
                         type_name(max_bytes).c_str());
            return false;
        }
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(max_bytes, &overflow);
        if (value == -1 && PyErr_Occurred()) return false;
        if (overflow < 0 || (overflow == 0 && value <= 0)) {
            PyErr_Format(PyExc_ValueError, "max_bytes must be a positive int, not %R", max_bytes);
            return false;
        }
        // More than 2^63 bytes is no limit a call can reach.
        out.max_bytes = overflow > 0 ? 0 : static_cast<std::uint64_t>(value);
    }
    return true;
}

// ------------------------------------------------------------ the work

// What the core produced with the lock released: a result, a core error, a
// page index past the end, or a C++ failure to report once the lock is back.
struct Outcome {
    std::variant<std::monostate, ExtractedDoc, std::string, vellox_core::DocInfo,
                 vellox_core::Error, vellox_core::PageOutOfRange>
        value;
    bool out_of_memory = false;
    std::string panic;  // non-empty: a C++ exception escaped the core
};

// Runs `work` (which fills `outcome.value`) without the interpreter lock.
// Nothing in it touches a Python object; exceptions must not cross the
// macros, which would leave the lock released.
template <class Work>
void without_lock(Outcome& outcome, Work work) {
    Py_BEGIN_ALLOW_THREADS try { work(); } catch (const std::bad_alloc&) {
        outcome.out_of_memory = true;
    } catch (const std::exception& e) {
        outcome.panic = e.what();
        if (outcome.panic.empty()) outcome.panic = "unknown internal failure";
    } catch (...) {
        outcome.panic = "unknown internal failure";
    }
    Py_END_ALLOW_THREADS
}

void run_extract(Outcome& outcome, ByteView data, ByteView password, Form form,
                 const PageSelection& selection, const Limits& limits,
                 vellox_core::ReadingOrder order) {
    // The limits count from here, so that opening the file counts too.
    vellox_core::ExtractOptions options;
    options.time_limit = limits.seconds;
    options.max_decoded_bytes = limits.max_bytes;
    vellox_core::Budget budget(options.time_limit, options.max_decoded_bytes);
    auto document = Document::parse_with_password(data, password, &budget);
    if (!document) {
        outcome.value = std::move(document).error();
        return;
    }
    auto pages = document->pages();
    if (!pages) {
        outcome.value = std::move(pages).error();
        return;
    }
    auto chosen = vellox_core::resolve_pages(selection, pages->size());
    if (auto* bad = std::get_if<vellox_core::PageOutOfRange>(&chosen)) {
        outcome.value = *bad;
        return;
    }
    // The text forms show of images only whether a page needs OCR.
    const bool text_only = form == Form::Markdown || form == Form::Html || form == Form::Text;
    options.images =
        text_only ? vellox_core::ImageDetail::PresenceOnly : vellox_core::ImageDetail::Full;
    options.order = order;
    auto extracted =
        document->extract_pages(*pages, std::get<std::vector<std::size_t>>(chosen), options);
    if (!extracted) {
        outcome.value = std::move(extracted).error();
        return;
    }
    switch (form) {
        case Form::Dict: outcome.value = std::move(extracted).value(); break;
        case Form::Json: outcome.value = extracted->to_json(); break;
        case Form::Markdown: outcome.value = extracted->to_markdown(); break;
        case Form::Html: outcome.value = extracted->to_html(); break;
        case Form::Text: outcome.value = extracted->to_text(); break;
    }
}

PyObject* opt_str(const std::optional<std::string>& value) {
    return value ? to_str(*value) : Py_NewRef(Py_None);
}

PyObject* info_to_py(Keys k, const vellox_core::DocInfo& info) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    PyObject* d = dict.get();
    std::size_t number = 0;
    PyObject* pages = to_list(info.pages, [k, &number](const vellox_core::PageGeometry& page) {
        Ref item(PyDict_New());
        if (!item || !put(item.get(), k[kPage], to_uint(++number)) ||
            !put(item.get(), k[kWidth], to_float(page.width)) ||
            !put(item.get(), k[kHeight], to_float(page.height)) ||
            !put(item.get(), k[kRotation], PyLong_FromLongLong(page.rotation))) {
            return static_cast<PyObject*>(nullptr);
        }
        return item.release();
    });
    PyObject* outline = to_list(info.outline, [k](const vellox_core::OutlineEntry& entry) {
        Ref item(PyDict_New());
        if (!item || !put(item.get(), k[kLevel], to_uint(entry.level)) ||
            !put(item.get(), k[kTitle], to_str(entry.title)) ||
            !put(item.get(), k[kPage],
                 entry.page ? to_uint(*entry.page + 1) : Py_NewRef(Py_None))) {
            return static_cast<PyObject*>(nullptr);
        }
        return item.release();
    });
    if (!put(d, k[kVersion], to_str(info.version)) ||
        !put(d, k[kPageCount], to_uint(info.pages.size())) ||
        !put(d, k[kEncryption], opt_str(info.encryption)) ||
        !put(d, k[kTitle], opt_str(info.title)) || !put(d, k[kAuthor], opt_str(info.author)) ||
        !put(d, k[kSubject], opt_str(info.subject)) ||
        !put(d, k[kKeywords], opt_str(info.keywords)) ||
        !put(d, k[kCreator], opt_str(info.creator)) ||
        !put(d, k[kProducer], opt_str(info.producer)) ||
        !put(d, k[kCreated], opt_str(info.created)) ||
        !put(d, k[kModified], opt_str(info.modified)) || !put(d, k[kPages], pages) ||
        !put(d, k[kOutline], outline)) {
        return nullptr;
    }
    return dict.release();
}

// The Python value of an outcome, or nullptr with the exception set.
PyObject* finish(PyObject* module, const Outcome& outcome) {
    ModuleState* state = state_of(module);
    if (outcome.out_of_memory) return PyErr_NoMemory();
    if (!outcome.panic.empty()) {
        PyErr_SetString(state->panic_type, outcome.panic.c_str());
        return nullptr;
    }
    return std::visit(
        [state](const auto& value) -> PyObject* {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, ExtractedDoc>) {
                return doc_to_py(state->keys, value);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return to_str(value);
            } else if constexpr (std::is_same_v<T, vellox_core::DocInfo>) {
                return info_to_py(state->keys, value);
            } else if constexpr (std::is_same_v<T, vellox_core::Error>) {
                return to_pyerr(value);
            } else if constexpr (std::is_same_v<T, vellox_core::PageOutOfRange>) {
                PyErr_Format(PyExc_IndexError,
                             "page index %lld is out of range for a document of %zu page%s",
                             static_cast<long long>(value.index), value.count,
                             value.count == 1 ? "" : "s");
                return nullptr;
            } else {
                PyErr_SetString(PyExc_SystemError, "no result");
                return nullptr;
            }
        },
        outcome.value);
}

template <class Body>
PyObject* guarded(PyObject* module, Body body) {
    try {
        return body();
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

PyObject* py_extract(PyObject* module, PyObject* args, PyObject* kwargs) {
    return guarded(module, [&]() -> PyObject* {
        static const char* kwlist[] = {"data",    "password",  "format", "pages",
                                       "timeout", "max_bytes", "order",  nullptr};
        PyObject* data = nullptr;
        PyObject* password = Py_None;
        PyObject* format = nullptr;
        PyObject* pages = Py_None;
        PyObject* timeout = Py_None;
        PyObject* max_bytes = Py_None;
        PyObject* order = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O$OOOOO:extract",
                                         const_cast<char**>(kwlist), &data, &password, &format,
                                         &pages, &timeout, &max_bytes, &order)) {
            return nullptr;
        }
        Input input;
        ByteView pw;
        Form form = Form::Dict;
        PageSelection selection;
        Limits limits;
        vellox_core::ReadingOrder reading = vellox_core::ReadingOrder::Columns;
        if (!limits_arg(timeout, max_bytes, limits) || !input.load(data) ||
            !password_arg(password, pw) || (format != nullptr && !form_arg(format, form)) ||
            !pages_arg(pages, selection) || (order != nullptr && !order_arg(order, reading))) {
            return nullptr;
        }
        Outcome outcome;
        without_lock(outcome, [&] {
            run_extract(outcome, input.bytes(), pw, form, selection, limits, reading);
        });
        return finish(module, outcome);
    });
}

PyObject* py_info(PyObject* module, PyObject* args, PyObject* kwargs) {
    return guarded(module, [&]() -> PyObject* {
        static const char* kwlist[] = {"data", "password", "timeout", "max_bytes", nullptr};
        PyObject* data = nullptr;
        PyObject* password = Py_None;
        PyObject* timeout = Py_None;
        PyObject* max_bytes = Py_None;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O$OO:info", const_cast<char**>(kwlist),
                                         &data, &password, &timeout, &max_bytes)) {
            return nullptr;
        }
        Input input;
        ByteView pw;
        Limits limits;
        if (!limits_arg(timeout, max_bytes, limits) || !input.load(data) ||
            !password_arg(password, pw)) {
            return nullptr;
        }
        Outcome outcome;
        without_lock(outcome, [&] {
            vellox_core::Budget budget(limits.seconds, limits.max_bytes);
            auto document = Document::parse_with_password(input.bytes(), pw, &budget);
            if (!document) {
                outcome.value = std::move(document).error();
                return;
            }
            auto info = vellox_core::read_doc_info(*document);
            // Damaged metadata is left out, but a limit passed reading it
            // fails the call.
            if (budget.exceeded()) {
                outcome.value = budget.error();
            } else if (!info) {
                outcome.value = std::move(info).error();
            } else {
                outcome.value = std::move(info).value();
            }
        });
        return finish(module, outcome);
    });
}

// ------------------------------------------------------------ module

PyDoc_STRVAR(extract_doc,
             "extract(data, password=None, *, format='dict', pages=None, timeout=None, "
             "max_bytes=None, order='reading')\n--\n\n"
             "Extract a PDF in one of the forms markdown, json, html, text or dict, with the "
             "interpreter lock released, within `timeout` seconds and `max_bytes` decoded "
             "bytes when given; order 'reading' (columns and blocks) or 'position' (top to "
             "bottom).");
PyDoc_STRVAR(info_doc,
             "info(data, password=None, *, timeout=None, max_bytes=None)\n--\n\n"
             "Read a PDF's metadata, page sizes and outline without interpreting any page.");
PyDoc_STRVAR(module_doc, "Extraction with the interpreter lock released (`vellox._native`).");

PyMethodDef methods[] = {
    {"extract", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(py_extract)),
     METH_VARARGS | METH_KEYWORDS, extract_doc},
    {"info", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(py_info)),
     METH_VARARGS | METH_KEYWORDS, info_doc},
    {nullptr, nullptr, 0, nullptr},
};

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
    PyModuleDef_HEAD_INIT, "_native",    module_doc,  sizeof(ModuleState), methods, nullptr,
    module_traverse,       module_clear, module_free,
};

PyObject* create_module() {
    Ref module(PyModule_Create(&module_def));
    if (!module) return nullptr;
    ModuleState* state = state_of(module.get());
    state->panic_type = nullptr;
    if (!make_keys(state->keys)) return nullptr;
    // One PanicException for the package, whichever module raises it.
    Ref vellox_module(PyImport_ImportModule("vellox._vellox"));
    if (!vellox_module) return nullptr;
    state->panic_type = PyObject_GetAttrString(vellox_module.get(), "PanicException");
    if (state->panic_type == nullptr) return nullptr;
    return module.release();
}

}  // namespace

PyMODINIT_FUNC PyInit__native() {
    // Built once per process, as `_vellox` is.
    static PyObject* module = nullptr;
    if (module == nullptr) {
        module = create_module();
        if (module == nullptr) return nullptr;
    }
    return Py_NewRef(module);
}
