// The Python module's native part: libmwconv's Library, with the GIL
// released while a document is read, converted or identified.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>

#include "lib/mwconv.h"

namespace py = pybind11;

namespace {

mwconv::ConvertOptions options_of(const std::string &source, const std::string &to, bool fragment, bool macbinary) {
    mwconv::ConvertOptions options;
    const auto from = mwconv::from_name(source);
    if (!from) throw py::value_error("unknown source format: " + source);
    const auto target = mwconv::to_name(to);
    if (!target) throw py::value_error("unknown output format: " + to);
    if (macbinary && *target != mwconv::To::MacWrite5) throw py::value_error("macbinary needs to=\"macwrite5\"");
    options.from = *from;
    options.to = *target;
    options.fragment = fragment;
    options.macbinary = macbinary;
    return options;
}

}  // namespace

PYBIND11_MODULE(_mwconv, m) {
    m.attr("__version__") = mwconv::version();
    // Errors reach Python as (status, message); the package raises its own
    // exception classes from them.
    static py::exception<mwconv::Error> error(m, "Error");
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const mwconv::Error &e) {
            py::object value = py::make_tuple(static_cast<int>(e.status()), e.what());
            PyErr_SetObject(error.ptr(), value.ptr());
        }
    });

    py::class_<mwconv::Library>(m, "Library")
        .def(py::init<const std::string &>(), py::arg("plugin"))
        .def_property_readonly("plugin", &mwconv::Library::plugin_path)
        .def(
            "convert",
            [](const mwconv::Library &lib, py::bytes data, const std::string &source, const std::string &to,
               bool fragment, bool macbinary, const std::string &name, const std::string &media_dir) {
                const mwconv::ConvertOptions options = options_of(source, to, fragment, macbinary);
                std::string input = data;  // a copy: the bytes object is not touched without the GIL
                std::string output, damaged;
                {
                    py::gil_scoped_release release;
                    output = lib.convert(input, options, mwconv::Naming{name, media_dir, {}, {}}, &damaged);
                }
                return py::make_tuple(py::bytes(output), damaged);
            },
            py::arg("data"), py::arg("source"), py::arg("to"), py::arg("fragment"), py::arg("macbinary"),
            py::arg("name"), py::arg("media_dir"))
        .def(
            "convert_file",
            [](const mwconv::Library &lib, const std::string &input, const std::string &output, const std::string &source,
               const std::string &to, bool fragment, bool macbinary, const std::string &media_dir) {
                const mwconv::ConvertOptions options = options_of(source, to, fragment, macbinary);
                std::string damaged;
                {
                    py::gil_scoped_release release;
                    lib.convert_file(input, output, options, media_dir, &damaged);
                }
                return damaged;
            },
            py::arg("input"), py::arg("output"), py::arg("source"), py::arg("to"), py::arg("fragment"),
            py::arg("macbinary"), py::arg("media_dir"))
        .def(
            "convert_container",
            [](const mwconv::Library &lib, const std::string &path, const std::string &folder, const std::string &source,
               const std::string &to, bool fragment, bool macbinary, bool force, const std::string &output_root,
               const std::string &media_dir) -> py::object {
                mwconv::RunOptions options;
                static_cast<mwconv::ConvertOptions &>(options) = options_of(source, to, fragment, macbinary);
                options.force = force;
                options.output = output_root;
                options.media_dir = media_dir;
                std::optional<mwconv::ContainerRun> run;
                {
                    py::gil_scoped_release release;
                    run = lib.convert_container(path, folder, options);
                }
                if (!run) return py::none();
                static const char *const kinds[] = {"converted", "damaged", "other", "alone", "failed", "note"};
                py::list members;
                for (const mwconv::MemberOutcome &m : run->members)
                    members.append(py::make_tuple(kinds[m.kind], static_cast<int>(m.status), m.message));
                return py::make_tuple(run->folder_like, members);
            },
            py::arg("path"), py::arg("folder"), py::arg("source"), py::arg("to"), py::arg("fragment"),
            py::arg("macbinary"), py::arg("force"), py::arg("output_root"), py::arg("media_dir"))
        .def("identify_file", &mwconv::Library::identify_file, py::call_guard<py::gil_scoped_release>())
        .def(
            "identify",
            [](const mwconv::Library &lib, py::bytes data, const std::string &name) {
                std::string input = data;
                py::gil_scoped_release release;
                return lib.identify(input, name);
            })
        .def(
            "members",
            [](const mwconv::Library &lib, const std::string &path) {
                std::vector<mwconv::MemberInfo> members;
                {
                    py::gil_scoped_release release;
                    members = lib.members(path);
                }
                py::list out;
                for (const mwconv::MemberInfo &m : members) {
                    py::dict d;
                    d["path"] = m.path;
                    d["container"] = m.container;
                    d["type"] = m.type;
                    d["creator"] = m.creator;
                    d["size"] = m.size;
                    d["problem"] = m.problem.empty() ? py::object(py::none()) : py::object(py::str(m.problem));
                    out.append(d);
                }
                return out;
            });
}
