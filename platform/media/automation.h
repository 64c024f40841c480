// The automation types and interfaces the position interface uses.
#pragma once

#include "platform/com/unknown.h"
#include "platform/media/guids.h"
#include "platform/win32/types.h"

// Kept opaque: nothing here reads their contents, they are only passed on.
struct VARIANT;
struct DISPPARAMS;
struct EXCEPINFO;
struct TYPEATTR;
struct FUNCDESC;
struct VARDESC;
struct TLIBATTR;
struct ITypeComp;
typedef DWORD HREFTYPE;
typedef DWORD SYSKIND;

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;

struct ITypeInfo : IUnknown {
  STDMETHOD(GetTypeAttr)(TYPEATTR **attr) PURE;
  STDMETHOD(GetTypeComp)(ITypeComp **comp) PURE;
  STDMETHOD(GetFuncDesc)(UINT index, FUNCDESC **desc) PURE;
  STDMETHOD(GetVarDesc)(UINT index, VARDESC **desc) PURE;
  STDMETHOD(GetNames)(MEMBERID id, BSTR *names, UINT maxNames, UINT *count) PURE;
  STDMETHOD(GetRefTypeOfImplType)(UINT index, HREFTYPE *ref) PURE;
  STDMETHOD(GetImplTypeFlags)(UINT index, INT *flags) PURE;
  STDMETHOD(GetIDsOfNames)(LPOLESTR *names, UINT count, MEMBERID *ids) PURE;
  STDMETHOD(Invoke)(LPVOID instance, MEMBERID id, WORD flags, DISPPARAMS *params,
                    VARIANT *result, EXCEPINFO *exception, UINT *argError) PURE;
};

struct ITypeLib : IUnknown {
  STDMETHOD_(UINT, GetTypeInfoCount)() PURE;
  STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo **info) PURE;
  STDMETHOD(GetTypeInfoType)(UINT index, DWORD *kind) PURE;
  STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo **info) PURE;
};

struct IDispatch : IUnknown {
  STDMETHOD(GetTypeInfoCount)(UINT *count) PURE;
  STDMETHOD(GetTypeInfo)(UINT index, LCID locale, ITypeInfo **info) PURE;
  STDMETHOD(GetIDsOfNames)(REFIID iid, LPOLESTR *names, UINT count, LCID locale,
                           DISPID *ids) PURE;
  STDMETHOD(Invoke)(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS *params,
                    VARIANT *result, EXCEPINFO *exception, UINT *argError) PURE;
};

// Entry points of the automation library, looked up by name.
typedef HRESULT (*LoadRegTypeLibFn)(REFGUID libid, WORD major, WORD minor, LCID locale,
                                    ITypeLib **lib);
typedef HRESULT (*LoadTypeLibFn)(LPCOLESTR file, ITypeLib **lib);
