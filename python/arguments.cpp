#include "arguments.hpp"

#include "py_ref.hpp"

namespace zvpy {

const char* type_name(PyObject* value) {
  return Py_TYPE(value)->tp_name;
}

void raise_argument_error(PyObject* type, const char* name, const std::string& reason) {
  const std::string message = std::string("argument '") + name + "': " + reason;
  PyErr_SetString(type, message.c_str());
}

bool parse_arguments(const char* function, PyObject* args, PyObject* kwargs,
                     std::initializer_list<const char*> names, std::size_t required,
                     std::vector<PyObject*>& values) {
  const std::size_t count = names.size();
  values.assign(count, nullptr);
  const auto given = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
  if (given > count) {
    if (required == count) {
      PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zu %s given",
                   function, count, count == 1 ? "" : "s", given, given == 1 ? "was" : "were");
    } else {
      PyErr_Format(PyExc_TypeError,
                   "%s() takes from %zu to %zu positional arguments but %zu %s given", function,
                   required, count, given, given == 1 ? "was" : "were");
    }
    return false;
  }
  for (std::size_t n = 0; n < given; ++n) values[n] = PyTuple_GET_ITEM(args, n);

  if (kwargs != nullptr) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t position = 0;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      if (!PyUnicode_Check(key)) {
        PyErr_SetString(PyExc_TypeError, "keywords must be strings");
        return false;
      }
      const char* key_text = PyUnicode_AsUTF8(key);
      if (key_text == nullptr) return false;
      std::size_t index = 0;
      for (const char* name : names) {
        if (std::string_view(name) == key_text) break;
        ++index;
      }
      if (index == count) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'", function,
                     key_text);
        return false;
      }
      if (values[index] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function,
                     key_text);
        return false;
      }
      values[index] = value;
    }
  }

  std::vector<const char*> missing;
  std::size_t index = 0;
  for (const char* name : names) {
    if (index < required && values[index] == nullptr) missing.push_back(name);
    ++index;
  }
  if (!missing.empty()) {
    std::string list;
    for (std::size_t n = 0; n < missing.size(); ++n) {
      if (n > 0) list += n + 1 == missing.size() ? (missing.size() > 2 ? ", and " : " and ") : ", ";
      list += std::string("'") + missing[n] + "'";
    }
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", function,
                 missing.size(), missing.size() == 1 ? "" : "s", list.c_str());
    return false;
  }
  return true;
}

namespace {

// Re-raises the pending exception with the parameter's name in front of its message, as an
// exception of the same type when that type takes a message alone, else as a ValueError (a
// UnicodeEncodeError, say) or TypeError; the original becomes its cause.
void prefix_pending_error(const char* name) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  // Ctrl-C, an exit or a failed allocation while converting passes through as it is.
  if (type == nullptr || !PyErr_GivenExceptionMatches(type, PyExc_Exception) ||
      PyErr_GivenExceptionMatches(type, PyExc_MemoryError)) {
    PyErr_Restore(type, value, traceback);
    return;
  }
  PyRef type_ref = PyRef::steal(type);
  PyRef value_ref = PyRef::steal(value);
  PyRef traceback_ref = PyRef::steal(traceback);
  if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
  PyRef text = PyRef::steal(value != nullptr ? PyObject_Str(value) : nullptr);
  const char* reason = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
  PyErr_Clear();
  const std::string message =
      std::string("argument '") + name + "': " + (reason != nullptr ? reason : "invalid value");
  PyRef message_object = PyRef::steal(PyUnicode_FromString(message.c_str()));
  if (!message_object) return;  // MemoryError set
  PyRef replacement;
  if (!PyErr_GivenExceptionMatches(type, PyExc_UnicodeError)) {
    replacement = PyRef::steal(PyObject_CallOneArg(type, message_object.get()));
    if (!replacement || !PyExceptionInstance_Check(replacement.get())) {
      PyErr_Clear();
      replacement = PyRef();
    }
  }
  if (!replacement) {
    PyObject* fallback =
        PyErr_GivenExceptionMatches(type, PyExc_ValueError) ? PyExc_ValueError : PyExc_TypeError;
    replacement = PyRef::steal(PyObject_CallOneArg(fallback, message_object.get()));
    if (!replacement) return;
  }
  PyException_SetCause(replacement.get(), Py_NewRef(value));  // steals the new reference
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(replacement.get())), replacement.get());
}

}  // namespace

// Integers as Python's own argument parsing takes them: anything with __index__ (an int, a
// numpy integer), never a float.
std::optional<std::uint64_t> to_u64(PyObject* value, const char* name) {
  PyRef index = PyRef::steal(PyNumber_Index(value));
  if (!index) {
    prefix_pending_error(name);
    return std::nullopt;
  }
  const unsigned long long result = PyLong_AsUnsignedLongLong(index.get());
  if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    prefix_pending_error(name);
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(result);
}

// Floats as Python's own argument parsing takes them: anything float() takes without parsing
// text (__float__, or __index__ for integers).
std::optional<double> to_double(PyObject* value, const char* name) {
  if (PyFloat_CheckExact(value)) return PyFloat_AS_DOUBLE(value);
  const double result = PyFloat_AsDouble(value);
  if (result == -1.0 && PyErr_Occurred()) {
    prefix_pending_error(name);
    return std::nullopt;
  }
  return result;
}

std::optional<bool> to_bool(PyObject* value, const char* name) {
  if (PyBool_Check(value)) return value == Py_True;
  raise_argument_error(
      PyExc_TypeError, name,
      std::string("'") + type_name(value) + "' object cannot be converted to 'bool'");
  return std::nullopt;
}

// Text as UTF-8; a lone surrogate (not encodable) or a NUL character is refused naming the
// parameter, as Python's own argument parsing refuses them.
std::optional<std::string> to_string(PyObject* value, const char* name) {
  if (!PyUnicode_Check(value)) {
    raise_argument_error(
        PyExc_TypeError, name,
        std::string("'") + type_name(value) + "' object cannot be converted to 'str'");
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(value, &size);
  if (text == nullptr) {
    prefix_pending_error(name);
    return std::nullopt;
  }
  std::string result(text, static_cast<std::size_t>(size));
  if (result.find('\0') != std::string::npos) {
    raise_argument_error(PyExc_ValueError, name, "embedded null character");
    return std::nullopt;
  }
  return result;
}

namespace {

template <class T, class Convert>
bool convert_into(PyObject* value, const char* name, T& out, Convert&& convert) {
  if (value == nullptr) return true;
  auto converted = convert(value, name);
  if (!converted) return false;
  out = std::move(*converted);
  return true;
}

}  // namespace

bool convert(PyObject* value, const char* name, double& out) {
  return convert_into(value, name, out, to_double);
}
bool convert(PyObject* value, const char* name, std::uint64_t& out) {
  return convert_into(value, name, out, to_u64);
}
bool convert(PyObject* value, const char* name, bool& out) {
  return convert_into(value, name, out, to_bool);
}
bool convert(PyObject* value, const char* name, std::string& out) {
  return convert_into(value, name, out, to_string);
}
bool convert(PyObject* value, const char* name, std::optional<double>& out) {
  bool ok = true;
  out = to_optional_double(value, name, ok);
  return ok;
}
bool convert(PyObject* value, const char* name, std::optional<std::uint64_t>& out) {
  bool ok = true;
  out = to_optional_u64(value, name, ok);
  return ok;
}

std::optional<double> to_optional_double(PyObject* value, const char* name, bool& ok) {
  ok = true;
  if (value == nullptr || value == Py_None) return std::nullopt;
  auto result = to_double(value, name);
  ok = result.has_value();
  return result;
}

std::optional<std::uint64_t> to_optional_u64(PyObject* value, const char* name, bool& ok) {
  ok = true;
  if (value == nullptr || value == Py_None) return std::nullopt;
  auto result = to_u64(value, name);
  ok = result.has_value();
  return result;
}

std::optional<std::string> to_optional_string(PyObject* value, const char* name, bool& ok) {
  ok = true;
  if (value == nullptr || value == Py_None) return std::nullopt;
  auto result = to_string(value, name);
  ok = result.has_value();
  return result;
}

}  // namespace zvpy

namespace zvpy {

std::optional<PyObject*> to_sequence(PyObject* value, const char* name) {
  if (PyUnicode_Check(value)) {
    raise_argument_error(PyExc_TypeError, name, "Can't extract `str` to `Vec`");
    return std::nullopt;
  }
  if (!PySequence_Check(value)) {
    raise_argument_error(
        PyExc_TypeError, name,
        std::string("'") + type_name(value) + "' object cannot be converted to 'Sequence'");
    return std::nullopt;
  }
  PyObject* list = PySequence_List(value);
  if (list == nullptr) {
    PyErr_Clear();
    raise_argument_error(
        PyExc_TypeError, name,
        std::string("'") + type_name(value) + "' object cannot be converted to 'Sequence'");
    return std::nullopt;
  }
  return list;
}

}  // namespace zvpy
