// The sample in-process server the activation tests load: class "SxTest.Calculator" with a dual
// interface.
#pragma once

#include "objbase.h"

inline constexpr CLSID kCalculatorClsid = sx::com::guid("{5E1A0C44-8B2F-4C1D-A7E3-0F6B9D2C4E11}");

struct ICalculator : IDispatch {
  static constexpr IID kIid = sx::com::guid("{5E1A0C44-8B2F-4C1D-A7E3-0F6B9D2C4E12}");
  using Base = IDispatch;
  STDMETHOD(Subtract)(VARIANT* a, VARIANT* b, LONG* result) = 0;  // slot 7
  STDMETHOD(Objects)(LONG* result) = 0;                           // slot 8: live objects
};
