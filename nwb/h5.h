// The few HDF5 objects an NWB file is made of, over the HDF5 C API: owned
// handles, and the typed writes of texts, numbers, object references and the
// attributes NWB asks for, each with the HDF5 type the NWB schema names.
//
// Every call that fails throws Failure with HDF5's own reason (its error stack,
// innermost message last), so the writer reads as a plain sequence of steps and
// reports one line; nothing here prints.
#pragma once

#include <hdf5.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace nwb {

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An open HDF5 identifier, closed with the function of its kind.
class Handle {
public:
    Handle() = default;
    Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
    ~Handle() { Reset(); }
    Handle(Handle&& o) noexcept : id_(o.id_), close_(o.close_) { o.id_ = H5I_INVALID_HID; }
    Handle& operator=(Handle&& o) noexcept;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    hid_t id() const { return id_; }
    // Closes now; false (with HDF5's reason in *error) when closing failed, which
    // for a file means that what was buffered did not reach it.
    bool Close(std::string* error);
    void Reset();

private:
    hid_t id_ = H5I_INVALID_HID;
    herr_t (*close_)(hid_t) = nullptr;
};

// HDF5's reason for the last failure of this thread, one line.
std::string LastError();
// Throws Failure("what: reason") when `status` is negative.
void Check(herr_t status, const std::string& what);
hid_t Check(hid_t id, const std::string& what);

// Text types: variable-length, UTF-8 (NWB's text) or ASCII (its dates).
Handle TextType(bool ascii = false);

Handle CreateFile(const std::string& path);
// Allocates the first `bytes` of the file's blocks in one step where the file
// system can (ext4 otherwise reserves them page by page as they are written,
// which costs as much as the copy). `bytes` must not exceed what the file will
// hold, so that nothing stays allocated past its end. Failure is ignored.
void Reserve(hid_t file, uint64_t bytes);
Handle CreateGroup(hid_t parent, const std::string& name);
Handle OpenGroup(hid_t parent, const std::string& name);

// Scalar attributes.
void AttrText(hid_t object, const char* name, const std::string& value, bool ascii = false);
void AttrFloat32(hid_t object, const char* name, float value);
void AttrFloat64(hid_t object, const char* name, double value);
void AttrUint32(hid_t object, const char* name, uint32_t value);
void AttrInt32(hid_t object, const char* name, int32_t value);
void AttrRef(hid_t object, const char* name, hobj_ref_t value);
// A 1-D text attribute (an empty list is a dataspace of size 0).
void AttrTextList(hid_t object, const char* name, const std::vector<std::string>& values);

// Scalar datasets.
Handle DataText(hid_t parent, const std::string& name, const std::string& value, bool ascii = false);
Handle DataFloat32(hid_t parent, const std::string& name, float value);
Handle DataFloat64(hid_t parent, const std::string& name, double value);
// 1-D datasets.
Handle DataTextList(hid_t parent, const std::string& name, const std::vector<std::string>& values, bool ascii = false);
Handle DataInt64List(hid_t parent, const std::string& name, const std::vector<int64_t>& values);
Handle DataUint64List(hid_t parent, const std::string& name, const std::vector<uint64_t>& values);
Handle DataFloat64List(hid_t parent, const std::string& name, const std::vector<double>& values);
Handle DataRefList(hid_t parent, const std::string& name, const std::vector<hobj_ref_t>& values);

// One row of a column of references into time series: samples [idx_start,
// idx_start + count) of the series `timeseries`; (-1, -1) where there is none.
struct SeriesSlice {
    int32_t idxStart;
    int32_t count;
    hobj_ref_t timeseries;
};
Handle DataSliceList(hid_t parent, const std::string& name, const std::vector<SeriesSlice>& values);

// A 1-D float32 dataset of `length` values, contiguous and without fill, to be
// written piece by piece with WriteFloat32.
Handle CreateFloat32(hid_t parent, const std::string& name, uint64_t length);
void WriteFloat32(hid_t dataset, uint64_t offset, const float* values, uint64_t count);

// The object reference to `path` in `file` (the object must exist).
hobj_ref_t Reference(hid_t file, const std::string& path);
// A soft link `name` in `parent` to the absolute path `target`.
void SoftLink(hid_t parent, const std::string& name, const std::string& target);

}  // namespace nwb
