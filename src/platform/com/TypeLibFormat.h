// The binary form of a type library: what the interface compiler writes into
// a module's TYPELIB resource (or a .tlb file) and LoadTypeLib reads back.
//
// Little-endian; strings are a 32-bit byte count and UTF-8 bytes; a GUID is
// its 16 bytes in memory order. Layout:
//   "QBTL" u32 version(1)
//   library: guid u16 major u16 minor u32 lcid str name str help u32 typeCount
//   type:    u8 kind guid str name str help u16 flags str base
//            u32 funcCount func* u32 implCount (str name u32 flags)*
//   func:    i32 memid str name str help u16 invkind u16 retvt u32 paramCount param*
//   param:   str name u16 vt u8 pointer u16 flags
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace platform::typelib {

struct Param {
    std::string name;
    uint16_t vt = 0;      // the base type (VT_INT, VT_BSTR, VT_R8...)
    bool pointer = false; // passed by pointer (out parameters)
    uint16_t flags = 0;   // PARAMFLAG_FIN, FOUT, FRETVAL
};

struct Function {
    int32_t memid = 0;
    std::string name;
    std::string help;
    uint16_t invkind = 1; // INVOKE_FUNC
    uint16_t retvt = 25;  // VT_HRESULT
    std::vector<Param> params;
};

struct Implemented {
    std::string name;
    uint32_t flags = 0; // IMPLTYPEFLAG_FDEFAULT...
};

struct Type {
    uint8_t kind = 0; // TYPEKIND
    uint8_t guid[16] = {};
    std::string name;
    std::string help;
    uint16_t flags = 0; // TYPEFLAG_*
    std::string base;   // the interface it derives from ("IDispatch", "IUnknown")
    std::vector<Function> functions;
    std::vector<Implemented> implemented; // coclasses
};

struct Library {
    uint8_t guid[16] = {};
    uint16_t major = 0;
    uint16_t minor = 0;
    uint32_t lcid = 0;
    std::string name;
    std::string help;
    std::vector<Type> types;
};

class Writer {
public:
    void U8(uint8_t v) { m_out.push_back(static_cast<char>(v)); }
    void U16(uint16_t v) { Raw(&v, 2); }
    void U32(uint32_t v) { Raw(&v, 4); }
    void Str(const std::string &s) {
        U32(static_cast<uint32_t>(s.size()));
        m_out += s;
    }
    void Raw(const void *p, size_t n) { m_out.append(static_cast<const char *>(p), n); }
    const std::string &Bytes() const { return m_out; }

private:
    std::string m_out;
};

class Reader {
public:
    Reader(const void *data, size_t size) : m_p(static_cast<const uint8_t *>(data)), m_end(m_p + size) {}
    bool Ok() const { return m_ok; }
    bool Raw(void *out, size_t n) {
        if (!m_ok || static_cast<size_t>(m_end - m_p) < n)
            return m_ok = false;
        memcpy(out, m_p, n);
        m_p += n;
        return true;
    }
    uint8_t U8() {
        uint8_t v = 0;
        Raw(&v, 1);
        return v;
    }
    uint16_t U16() {
        uint16_t v = 0;
        Raw(&v, 2);
        return v;
    }
    uint32_t U32() {
        uint32_t v = 0;
        Raw(&v, 4);
        return v;
    }
    std::string Str() {
        uint32_t n = U32();
        if (!m_ok || static_cast<size_t>(m_end - m_p) < n) {
            m_ok = false;
            return {};
        }
        std::string s(reinterpret_cast<const char *>(m_p), n);
        m_p += n;
        return s;
    }
    // A count that cannot exceed what is left (each element takes a byte or more).
    uint32_t Count() {
        uint32_t n = U32();
        if (n > static_cast<size_t>(m_end - m_p))
            m_ok = false;
        return m_ok ? n : 0;
    }

private:
    const uint8_t *m_p;
    const uint8_t *m_end;
    bool m_ok = true;
};

inline std::string Serialize(const Library &lib) {
    Writer w;
    w.Raw("QBTL", 4);
    w.U32(1);
    w.Raw(lib.guid, 16);
    w.U16(lib.major);
    w.U16(lib.minor);
    w.U32(lib.lcid);
    w.Str(lib.name);
    w.Str(lib.help);
    w.U32(static_cast<uint32_t>(lib.types.size()));
    for (const Type &t : lib.types) {
        w.U8(t.kind);
        w.Raw(t.guid, 16);
        w.Str(t.name);
        w.Str(t.help);
        w.U16(t.flags);
        w.Str(t.base);
        w.U32(static_cast<uint32_t>(t.functions.size()));
        for (const Function &f : t.functions) {
            w.U32(static_cast<uint32_t>(f.memid));
            w.Str(f.name);
            w.Str(f.help);
            w.U16(f.invkind);
            w.U16(f.retvt);
            w.U32(static_cast<uint32_t>(f.params.size()));
            for (const Param &p : f.params) {
                w.Str(p.name);
                w.U16(p.vt);
                w.U8(p.pointer ? 1 : 0);
                w.U16(p.flags);
            }
        }
        w.U32(static_cast<uint32_t>(t.implemented.size()));
        for (const Implemented &i : t.implemented) {
            w.Str(i.name);
            w.U32(i.flags);
        }
    }
    return w.Bytes();
}

inline bool Parse(const void *data, size_t size, Library &lib) {
    Reader r(data, size);
    char magic[4] = {};
    r.Raw(magic, 4);
    if (!r.Ok() || memcmp(magic, "QBTL", 4) != 0 || r.U32() != 1)
        return false;
    r.Raw(lib.guid, 16);
    lib.major = r.U16();
    lib.minor = r.U16();
    lib.lcid = r.U32();
    lib.name = r.Str();
    lib.help = r.Str();
    uint32_t types = r.Count();
    for (uint32_t i = 0; i < types && r.Ok(); ++i) {
        Type t;
        t.kind = r.U8();
        r.Raw(t.guid, 16);
        t.name = r.Str();
        t.help = r.Str();
        t.flags = r.U16();
        t.base = r.Str();
        uint32_t functions = r.Count();
        for (uint32_t f = 0; f < functions && r.Ok(); ++f) {
            Function fn;
            fn.memid = static_cast<int32_t>(r.U32());
            fn.name = r.Str();
            fn.help = r.Str();
            fn.invkind = r.U16();
            fn.retvt = r.U16();
            uint32_t params = r.Count();
            for (uint32_t p = 0; p < params && r.Ok(); ++p) {
                Param param;
                param.name = r.Str();
                param.vt = r.U16();
                param.pointer = r.U8() != 0;
                param.flags = r.U16();
                fn.params.push_back(param);
            }
            t.functions.push_back(fn);
        }
        uint32_t implemented = r.Count();
        for (uint32_t k = 0; k < implemented && r.Ok(); ++k) {
            Implemented impl;
            impl.name = r.Str();
            impl.flags = r.U32();
            t.implemented.push_back(impl);
        }
        lib.types.push_back(t);
    }
    return r.Ok();
}

} // namespace platform::typelib
