// Interfaces declared from member lists, so that one description gives both the interface (its
// slots in order) and its proxy (com/proxy.h), as an IDL file gives both to MIDL.
//
// A member list is a macro that takes one macro argument M and calls it once per member, in slot
// order, with the member's name and its parameters as (type, name) pairs:
//
//   #define SX_THING_MEMBERS(M)                                  (each line ends in a backslash)
//     M(get_Count, (LONG*, count))
//     /* Finds a thing by name; null when there is none. */
//     M(Find, (BSTR, name), (IThing**, found))
//     M(Reset)
//
//   struct IThing : IDispatch {
//     static constexpr IID kIid = sx::com::guid("{...}");
//     using Base = IDispatch;
//     SX_COM_MEMBERS(SX_THING_MEMBERS)
//    protected:
//     ~IThing() = default;
//   };
//
// Every member returns HRESULT. Comments inside a list must be /* ... */ (a // comment would
// swallow the line continuation). Types may not contain commas; at most eight parameters.
#pragma once

#include "com/hresult.h"

// The pure virtual declarations of a member list.
#define SX_COM_MEMBERS(list) list(SX_COM_DECLARE_MEMBER_)
#define SX_COM_DECLARE_MEMBER_(name, ...) STDMETHOD(name)(SX_COM_PARAMS(__VA_ARGS__)) = 0;

// "type name, type name" and "name, name" of a member's (type, name) pairs.
#define SX_COM_PARAMS(...) __VA_OPT__(SX_PP_MAP_(SX_PP_PARAM_, __VA_ARGS__))
#define SX_COM_ARGS(...) __VA_OPT__(SX_PP_MAP_(SX_PP_ARG_, __VA_ARGS__))

// Implementation.
#define SX_PP_PARAM_(pair) SX_PP_PARAM_I_ pair
#define SX_PP_PARAM_I_(type, name) type name
#define SX_PP_ARG_(pair) SX_PP_ARG_I_ pair
#define SX_PP_ARG_I_(type, name) name

#define SX_PP_CAT_(a, b) SX_PP_CAT_I_(a, b)
#define SX_PP_CAT_I_(a, b) a##b
#define SX_PP_COUNT_(...) SX_PP_COUNT_I_(__VA_ARGS__, 8, 7, 6, 5, 4, 3, 2, 1, 0)
#define SX_PP_COUNT_I_(a1, a2, a3, a4, a5, a6, a7, a8, n, ...) n
#define SX_PP_MAP_(f, ...) SX_PP_CAT_(SX_PP_MAP_, SX_PP_COUNT_(__VA_ARGS__))(f, __VA_ARGS__)
#define SX_PP_MAP_1(f, a) f(a)
#define SX_PP_MAP_2(f, a, ...) f(a), SX_PP_MAP_1(f, __VA_ARGS__)
#define SX_PP_MAP_3(f, a, ...) f(a), SX_PP_MAP_2(f, __VA_ARGS__)
#define SX_PP_MAP_4(f, a, ...) f(a), SX_PP_MAP_3(f, __VA_ARGS__)
#define SX_PP_MAP_5(f, a, ...) f(a), SX_PP_MAP_4(f, __VA_ARGS__)
#define SX_PP_MAP_6(f, a, ...) f(a), SX_PP_MAP_5(f, __VA_ARGS__)
#define SX_PP_MAP_7(f, a, ...) f(a), SX_PP_MAP_6(f, __VA_ARGS__)
#define SX_PP_MAP_8(f, a, ...) f(a), SX_PP_MAP_7(f, __VA_ARGS__)
