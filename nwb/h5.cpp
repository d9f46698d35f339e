#include "nwb/h5.h"

#include <fcntl.h>

#include <cstring>

namespace nwb {

namespace {

// HDF5 prints its error stack on every failure unless told not to; the writer
// reports the reason itself. Once per thread before its first file (the
// thread-safe library, Debian's, keeps that setting per thread).
void Quiet()
{
    static thread_local bool quiet = false;
    if (quiet) return;
    H5open();
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    quiet = true;
}

herr_t Collect(unsigned, const H5E_error2_t* e, void* data)
{
    auto* messages = static_cast<std::vector<std::string>*>(data);
    if (e->desc && *e->desc) messages->push_back(e->desc);
    return 0;
}

Handle Space(uint64_t length)
{
    const hsize_t dims[1] = {length};
    return Handle(Check(H5Screate_simple(1, dims, nullptr), "a dataspace"), H5Sclose);
}

Handle Scalar() { return Handle(Check(H5Screate(H5S_SCALAR), "a dataspace"), H5Sclose); }

Handle Attribute(hid_t object, const char* name, hid_t type, hid_t space)
{
    return Handle(
        Check(H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT), std::string("attribute ") + name),
        H5Aclose);
}

Handle Dataset(hid_t parent, const std::string& name, hid_t type, hid_t space, hid_t create = H5P_DEFAULT)
{
    return Handle(Check(H5Dcreate2(parent, name.c_str(), type, space, H5P_DEFAULT, create, H5P_DEFAULT), name),
                  H5Dclose);
}

template <typename T>
void ScalarAttr(hid_t object, const char* name, hid_t fileType, hid_t memType, T value)
{
    Handle space = Scalar();
    Handle a = Attribute(object, name, fileType, space.id());
    Check(H5Awrite(a.id(), memType, &value), std::string("attribute ") + name);
}

template <typename T>
Handle ScalarData(hid_t parent, const std::string& name, hid_t fileType, hid_t memType, T value)
{
    Handle space = Scalar();
    Handle d = Dataset(parent, name, fileType, space.id());
    Check(H5Dwrite(d.id(), memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, &value), name);
    return d;
}

template <typename T>
Handle ListData(hid_t parent, const std::string& name, hid_t fileType, hid_t memType, const std::vector<T>& values)
{
    Handle space = Space(values.size());
    Handle d = Dataset(parent, name, fileType, space.id());
    if (!values.empty()) Check(H5Dwrite(d.id(), memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), name);
    return d;
}

std::vector<const char*> Pointers(const std::vector<std::string>& values)
{
    std::vector<const char*> p;
    for (const std::string& v : values) p.push_back(v.c_str());
    return p;
}

}  // namespace

Handle& Handle::operator=(Handle&& o) noexcept
{
    if (this != &o) {
        Reset();
        id_ = o.id_;
        close_ = o.close_;
        o.id_ = H5I_INVALID_HID;
    }
    return *this;
}

void Handle::Reset()
{
    if (id_ >= 0 && close_) close_(id_);
    id_ = H5I_INVALID_HID;
}

bool Handle::Close(std::string* error)
{
    if (id_ < 0) return true;
    const herr_t status = close_(id_);
    id_ = H5I_INVALID_HID;
    if (status < 0) {
        *error = LastError();
        return false;
    }
    return true;
}

std::string LastError()
{
    std::vector<std::string> messages;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_DOWNWARD, Collect, &messages);
    H5Eclear2(H5E_DEFAULT);
    if (messages.empty()) return "the HDF5 library failed";
    // The innermost message is the cause; a system call's failure is in it as
    // "error message = '...'", which says it best.
    const std::string& cause = messages.back();
    const std::string key = "error message = '";
    const std::size_t at = cause.find(key);
    if (at != std::string::npos) {
        const std::size_t end = cause.find('\'', at + key.size());
        if (end != std::string::npos) return cause.substr(at + key.size(), end - at - key.size());
    }
    return cause;
}

void Check(herr_t status, const std::string& what)
{
    if (status < 0) throw Failure(what + ": " + LastError());
}

hid_t Check(hid_t id, const std::string& what)
{
    if (id < 0) throw Failure(what + ": " + LastError());
    return id;
}

Handle TextType(bool ascii)
{
    Handle t(Check(H5Tcopy(H5T_C_S1), "a text type"), H5Tclose);
    Check(H5Tset_size(t.id(), H5T_VARIABLE), "a text type");
    Check(H5Tset_cset(t.id(), ascii ? H5T_CSET_ASCII : H5T_CSET_UTF8), "a text type");
    return t;
}

Handle CreateFile(const std::string& path)
{
    Quiet();
    hid_t id = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (id < 0) throw Failure(LastError());
    return Handle(id, H5Fclose);
}

void Reserve(hid_t file, uint64_t bytes)
{
#if defined(__linux__)
    void* handle = nullptr;
    if (bytes == 0 || H5Fget_vfd_handle(file, H5P_DEFAULT, &handle) < 0 || !handle) return;
    fallocate(*static_cast<int*>(handle), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
#else
    (void)file;
    (void)bytes;
#endif
}

Handle CreateGroup(hid_t parent, const std::string& name)
{
    return Handle(Check(H5Gcreate2(parent, name.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), name), H5Gclose);
}

Handle OpenGroup(hid_t parent, const std::string& name)
{
    return Handle(Check(H5Gopen2(parent, name.c_str(), H5P_DEFAULT), name), H5Gclose);
}

void AttrText(hid_t object, const char* name, const std::string& value, bool ascii)
{
    Handle type = TextType(ascii);
    const char* p = value.c_str();
    ScalarAttr(object, name, type.id(), type.id(), p);
}

void AttrFloat32(hid_t object, const char* name, float value)
{
    ScalarAttr(object, name, H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, value);
}

void AttrFloat64(hid_t object, const char* name, double value)
{
    ScalarAttr(object, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, value);
}

void AttrUint32(hid_t object, const char* name, uint32_t value)
{
    ScalarAttr(object, name, H5T_STD_U32LE, H5T_NATIVE_UINT32, value);
}

void AttrInt32(hid_t object, const char* name, int32_t value)
{
    ScalarAttr(object, name, H5T_STD_I32LE, H5T_NATIVE_INT32, value);
}

void AttrRef(hid_t object, const char* name, hobj_ref_t value)
{
    ScalarAttr(object, name, H5T_STD_REF_OBJ, H5T_STD_REF_OBJ, value);
}

void AttrTextList(hid_t object, const char* name, const std::vector<std::string>& values)
{
    Handle type = TextType();
    Handle space = Space(values.size());
    Handle a = Attribute(object, name, type.id(), space.id());
    const std::vector<const char*> p = Pointers(values);
    if (!p.empty()) Check(H5Awrite(a.id(), type.id(), p.data()), std::string("attribute ") + name);
}

Handle DataText(hid_t parent, const std::string& name, const std::string& value, bool ascii)
{
    Handle type = TextType(ascii);
    const char* p = value.c_str();
    return ScalarData(parent, name, type.id(), type.id(), p);
}

Handle DataFloat32(hid_t parent, const std::string& name, float value)
{
    return ScalarData(parent, name, H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, value);
}

Handle DataFloat64(hid_t parent, const std::string& name, double value)
{
    return ScalarData(parent, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, value);
}

Handle DataTextList(hid_t parent, const std::string& name, const std::vector<std::string>& values, bool ascii)
{
    Handle type = TextType(ascii);
    return ListData(parent, name, type.id(), type.id(), Pointers(values));
}

Handle DataInt64List(hid_t parent, const std::string& name, const std::vector<int64_t>& values)
{
    return ListData(parent, name, H5T_STD_I64LE, H5T_NATIVE_INT64, values);
}

Handle DataUint64List(hid_t parent, const std::string& name, const std::vector<uint64_t>& values)
{
    return ListData(parent, name, H5T_STD_U64LE, H5T_NATIVE_UINT64, values);
}

Handle DataFloat64List(hid_t parent, const std::string& name, const std::vector<double>& values)
{
    return ListData(parent, name, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, values);
}

Handle DataRefList(hid_t parent, const std::string& name, const std::vector<hobj_ref_t>& values)
{
    return ListData(parent, name, H5T_STD_REF_OBJ, H5T_STD_REF_OBJ, values);
}

Handle DataSliceList(hid_t parent, const std::string& name, const std::vector<SeriesSlice>& values)
{
    // In the file: 16 bytes, the two counts little-endian at 0 and 4, the
    // reference at 8; in memory the struct (HDF5 matches the members by name).
    static_assert(sizeof(SeriesSlice) == 16, "the compound's memory layout");
    Handle file(Check(H5Tcreate(H5T_COMPOUND, 16), name), H5Tclose);
    Check(H5Tinsert(file.id(), "idx_start", 0, H5T_STD_I32LE), name);
    Check(H5Tinsert(file.id(), "count", 4, H5T_STD_I32LE), name);
    Check(H5Tinsert(file.id(), "timeseries", 8, H5T_STD_REF_OBJ), name);
    Handle memory(Check(H5Tcreate(H5T_COMPOUND, sizeof(SeriesSlice)), name), H5Tclose);
    Check(H5Tinsert(memory.id(), "idx_start", offsetof(SeriesSlice, idxStart), H5T_NATIVE_INT32), name);
    Check(H5Tinsert(memory.id(), "count", offsetof(SeriesSlice, count), H5T_NATIVE_INT32), name);
    Check(H5Tinsert(memory.id(), "timeseries", offsetof(SeriesSlice, timeseries), H5T_STD_REF_OBJ), name);
    return ListData(parent, name, file.id(), memory.id(), values);
}

Handle CreateFloat32(hid_t parent, const std::string& name, uint64_t length)
{
    Handle space = Space(length);
    Handle create(Check(H5Pcreate(H5P_DATASET_CREATE), name), H5Pclose);
    // Every value is written once: no fill value is ever written first.
    Check(H5Pset_fill_time(create.id(), H5D_FILL_TIME_NEVER), name);
    Check(H5Pset_layout(create.id(), H5D_CONTIGUOUS), name);
    return Dataset(parent, name, H5T_IEEE_F32LE, space.id(), create.id());
}

void WriteFloat32(hid_t dataset, uint64_t offset, const float* values, uint64_t count)
{
    if (count == 0) return;
    Handle file(Check(H5Dget_space(dataset), "data"), H5Sclose);
    const hsize_t start[1] = {offset}, n[1] = {count};
    Check(H5Sselect_hyperslab(file.id(), H5S_SELECT_SET, start, nullptr, n, nullptr), "data");
    Handle memory = Space(count);
    Check(H5Dwrite(dataset, H5T_NATIVE_FLOAT, memory.id(), file.id(), H5P_DEFAULT, values), "data");
}

hobj_ref_t Reference(hid_t file, const std::string& path)
{
    hobj_ref_t ref;
    Check(H5Rcreate(&ref, file, path.c_str(), H5R_OBJECT, -1), "a reference to " + path);
    return ref;
}

void SoftLink(hid_t parent, const std::string& name, const std::string& target)
{
    Check(H5Lcreate_soft(target.c_str(), parent, name.c_str(), H5P_DEFAULT, H5P_DEFAULT), name);
}

}  // namespace nwb
