#include "array_export.hpp"

#include "errors.hpp"
#include "owned_object.hpp"
#include "py_ref.hpp"

namespace zvpy {
namespace {

struct ArrayData {
  ArrayLayout layout;
  PyRef owner;                       // released under the interpreter lock, in tp_dealloc
  std::shared_ptr<const void> keep;  // a store mapping, or an owned vector
};

PyTypeObject* array_type = nullptr;

int get_buffer(PyObject* self, Py_buffer* view, int flags) {
  const ArrayLayout& layout = value_of<ArrayData>(self).layout;
  if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE) {
    PyErr_SetString(PyExc_BufferError, "the array is read-only");
    view->obj = nullptr;
    return -1;
  }
  const Py_ssize_t itemsize = layout.single ? 4 : 8;
  Py_ssize_t count = 1;
  for (const Py_ssize_t n : layout.shape) count *= n;
  // Strided views need a consumer that takes strides; every array here is C-contiguous unless
  // a store pads its slabs.
  bool contiguous = true;
  Py_ssize_t expected = itemsize;
  for (std::size_t d = layout.shape.size(); d-- > 0;) {
    if (layout.shape[d] > 1 && layout.strides[d] != expected) contiguous = false;
    expected *= layout.shape[d];
  }
  if (!contiguous && (flags & PyBUF_STRIDES) != PyBUF_STRIDES) {
    PyErr_SetString(PyExc_BufferError, "the array is strided: ask for strides");
    view->obj = nullptr;
    return -1;
  }
  view->buf = const_cast<void*>(layout.data);
  view->obj = Py_NewRef(self);
  view->len = count * itemsize;
  view->readonly = 1;
  view->itemsize = itemsize;
  view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>(layout.single ? "f" : "d") : nullptr;
  view->ndim = static_cast<int>(layout.shape.size());
  view->shape = (flags & PyBUF_ND) ? const_cast<Py_ssize_t*>(layout.shape.data()) : nullptr;
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES
                      ? const_cast<Py_ssize_t*>(layout.strides.data())
                      : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  return 0;
}

PyObject* shape_getter(PyObject* self, void*) {
  const ArrayLayout& layout = value_of<ArrayData>(self).layout;
  PyRef shape = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(layout.shape.size())));
  if (!shape) return nullptr;
  for (std::size_t d = 0; d < layout.shape.size(); ++d) {
    PyObject* n = PyLong_FromSsize_t(layout.shape[d]);
    if (n == nullptr) return nullptr;
    PyTuple_SET_ITEM(shape.get(), static_cast<Py_ssize_t>(d), n);
  }
  return shape.release();
}

PyGetSetDef getset[] = {
    {"shape", shape_getter, nullptr, "The array's shape.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_owned<ArrayData>)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(get_buffer)},
    {Py_tp_getset, getset},
    {Py_tp_doc, const_cast<char*>("A read-only buffer over engine memory; use numpy.asarray().")},
    {0, nullptr},
};

PyType_Spec spec = {
    "_zorvastatic._Array",
    sizeof(OwnedObject<ArrayData>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slots,
};

std::vector<Py_ssize_t> c_strides(const std::vector<Py_ssize_t>& shape, Py_ssize_t itemsize) {
  std::vector<Py_ssize_t> strides(shape.size());
  Py_ssize_t step = itemsize;
  for (std::size_t d = shape.size(); d-- > 0;) {
    strides[d] = step;
    step *= shape[d];
  }
  return strides;
}

}  // namespace

PyObject* export_array(ArrayLayout layout, PyObject* owner, std::shared_ptr<const void> keep) {
  if (layout.strides.empty()) layout.strides = c_strides(layout.shape, layout.single ? 4 : 8);
  auto data = std::make_unique<ArrayData>(
      ArrayData{std::move(layout), PyRef::borrow(owner), std::move(keep)});
  return new_owned(array_type, std::move(data));
}

PyObject* export_owned(std::vector<double> values, std::vector<Py_ssize_t> shape) {
  auto owned = std::make_shared<const std::vector<double>>(std::move(values));
  ArrayLayout layout{owned->data(), false, std::move(shape), {}};
  return export_array(std::move(layout), nullptr, owned);
}

bool register_array(PyObject* module) {
  array_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
  if (array_type == nullptr) return false;
  return PyModule_AddObjectRef(module, "_Array", reinterpret_cast<PyObject*>(array_type)) == 0;
}

}  // namespace zvpy
