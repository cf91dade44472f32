#pragma once
// Argument handling shared by every binding: positional-or-keyword parsing with the messages
// Python functions give, and conversions whose errors name the parameter
// ("argument 'n': ...").

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace zvpy {

// Matches `args` and `kwargs` against the parameter names. `values` receives one borrowed
// object per parameter, nullptr when not given. The first `required` parameters must be given.
// Returns false with a TypeError set on a mismatch.
bool parse_arguments(const char* function, PyObject* args, PyObject* kwargs,
                     std::initializer_list<const char*> names, std::size_t required,
                     std::vector<PyObject*>& values);

// Sets `type` with "argument '{name}': {reason}".
void raise_argument_error(PyObject* type, const char* name, const std::string& reason);

// Conversions: nothing (with the exception set) on failure.
std::optional<std::uint64_t> to_u64(PyObject* value, const char* name);
std::optional<double> to_double(PyObject* value, const char* name);
std::optional<bool> to_bool(PyObject* value, const char* name);
std::optional<std::string> to_string(PyObject* value, const char* name);

// A value that is absent or None converts to nothing; failure is reported through `ok`.
std::optional<double> to_optional_double(PyObject* value, const char* name, bool& ok);
std::optional<std::uint64_t> to_optional_u64(PyObject* value, const char* name, bool& ok);
std::optional<std::string> to_optional_string(PyObject* value, const char* name, bool& ok);

// Converts a given argument into `out`; an argument not given (nullptr) leaves `out` at its
// default. None converts to nothing for the optional forms. False with the exception set on
// failure, so that conversions chain with &&.
bool convert(PyObject* value, const char* name, double& out);
bool convert(PyObject* value, const char* name, std::uint64_t& out);
bool convert(PyObject* value, const char* name, bool& out);
bool convert(PyObject* value, const char* name, std::string& out);
bool convert(PyObject* value, const char* name, std::optional<double>& out);
bool convert(PyObject* value, const char* name, std::optional<std::uint64_t>& out);

// The object's type name, as in Python's own messages.
const char* type_name(PyObject* value);

}  // namespace zvpy

namespace zvpy {

// The items of a sequence argument (a str is refused, as it is not a sequence of values here);
// nothing with TypeError set on failure. The items are borrowed from the returned list.
std::optional<PyObject*> to_sequence(PyObject* value, const char* name);

}  // namespace zvpy
