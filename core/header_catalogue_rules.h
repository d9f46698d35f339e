// The makers of the catalogue's items (core/header_catalogue.csv, generated into
// core/header_catalogue_data.h in the build tree). Included by header_catalogue.h.
//
// Items name their fields; offsets, element types and sizes come from the record's
// generated field table at compile time, and a name that is not a field of the
// record, or a field of the wrong type or too small for its item, stops the build.
#pragma once

// Never defined: reaching it while the catalogue is evaluated at compile time makes
// the catalogue a non-constant expression, so the mistake is a build error.
void HeaderCatalogueFieldMismatch(const char* key);

constexpr bool HeaderSameName(const char* a, const char* b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

constexpr const AbfFieldInfo& HeaderField(const char* name)
{
    for (const AbfFieldInfo& f : kAbfRecordFields)
        if (HeaderSameName(f.name, name)) return f;
    HeaderCatalogueFieldMismatch(name);
    return kAbfRecordFields[0];
}

// Number of elements (numbers) or texts of a field.
constexpr int HeaderFieldElements(const AbfFieldInfo& f) { return f.rows * f.cols; }

constexpr HeaderBlockKey HeaderKey(const char* name)
{
    const AbfFieldInfo& f = HeaderField(name);
    if (f.kind == AbfFieldKind::kChar || HeaderFieldElements(f) != 1) HeaderCatalogueFieldMismatch(name);
    return HeaderBlockKey{name, f.offset, f.kind};
}

template <std::size_t N>
constexpr HeaderItem HeaderBlock(const HeaderBlockKey (&keys)[N])
{
    return HeaderItem{kItemBlock, nullptr, 0, 1, 0, keys, static_cast<uint16_t>(N)};
}

constexpr HeaderItem HeaderList(HeaderItemKind kind, AbfFieldKind element, const char* name, int count)
{
    const AbfFieldInfo& f = HeaderField(name);
    if (f.kind != element || count < 1 || count > HeaderFieldElements(f)) HeaderCatalogueFieldMismatch(name);
    return HeaderItem{kind, name, f.offset, static_cast<uint16_t>(count), f.width, nullptr, 0};
}
constexpr HeaderItem HeaderShortList(const char* name, int count)
{
    return HeaderList(kItemShortList, AbfFieldKind::kI16, name, count);
}
constexpr HeaderItem HeaderFloatList(const char* name, int count)
{
    return HeaderList(kItemFloatList, AbfFieldKind::kF32, name, count);
}
constexpr HeaderItem HeaderLongList(const char* name) { return HeaderList(kItemLongList, AbfFieldKind::kI32, name, 8); }
constexpr HeaderItem HeaderByteList(const char* name) { return HeaderList(kItemByteList, AbfFieldKind::kI8, name, 16); }

// Texts: the elements of a text list follow each other at `width` characters, so
// the width must be the field's own.
constexpr HeaderItem HeaderTextList(const char* name, int count, int width)
{
    const AbfFieldInfo& f = HeaderField(name);
    if (f.kind != AbfFieldKind::kChar || width != f.width || count < 1 || count > HeaderFieldElements(f))
        HeaderCatalogueFieldMismatch(name);
    return HeaderItem{kItemTextList, name, f.offset, static_cast<uint16_t>(count), static_cast<uint16_t>(width),
                      nullptr,       0};
}
constexpr HeaderItem HeaderTextField(const char* name, int width)
{
    const AbfFieldInfo& f = HeaderField(name);
    if (f.kind != AbfFieldKind::kChar || HeaderFieldElements(f) != 1 || width < 1 || width > f.width)
        HeaderCatalogueFieldMismatch(name);
    return HeaderItem{kItemTextField, name, f.offset, 1, static_cast<uint16_t>(width), nullptr, 0};
}
