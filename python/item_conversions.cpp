#include "item_conversions.hpp"

namespace zvpy {

using zorvastatic::Contact;
using zorvastatic::ContactKind;

PyObject* choice_error(const char* name, const std::string& got, const char* expected) {
  raise_argument_error(PyExc_ValueError, name,
                       std::string("expected ") + expected + ", got '" + got + "'");
  return nullptr;
}

bool unpack(PyObject* item, const char* name, std::size_t count, std::vector<PyObject*>& out) {
  if (!(PyTuple_Check(item) || PyList_Check(item)) ||
      static_cast<std::size_t>(PySequence_Fast_GET_SIZE(item)) != count) {
    raise_argument_error(
        PyExc_TypeError, name,
        "expected tuples of " + std::to_string(count) + " items, got " + type_name(item));
    return false;
  }
  out.assign(PySequence_Fast_ITEMS(item), PySequence_Fast_ITEMS(item) + count);
  return true;
}

std::optional<ContactKind> contact_kind(const std::string& text) {
  if (text == "owc") return ContactKind::Owc;
  if (text == "goc") return ContactKind::Goc;
  if (text == "gwc") return ContactKind::Gwc;
  return std::nullopt;
}

bool contact_from(PyObject* item, const char* name, std::vector<Contact>& out) {
  std::vector<PyObject*> parts;
  if (!unpack(item, name, 2, parts)) return false;
  auto kind_text = to_string(parts[0], name);
  auto depth = kind_text ? to_double(parts[1], name) : std::nullopt;
  if (!depth) return false;
  const auto kind = contact_kind(*kind_text);
  if (!kind) {
    choice_error(name, *kind_text, "'owc', 'goc' or 'gwc'");
    return false;
  }
  out.push_back({*depth, *kind});
  return true;
}

}  // namespace zvpy
