#include <gtest/gtest.h>

#include <thread>

#include "comdef.h"
#include "test_objects.h"

namespace {

using sx::com::ComPtr;
using sx::com::testing::ref_count;
using sx::com::testing::ValueObject;

struct IShape : IDispatch {
  static constexpr IID kIid = sx::com::guid("{0D1F6A52-3C2B-4B8E-9E61-2A6C1B0F7701}");
  using Base = IDispatch;
  STDMETHOD(Area)(LONG* result) = 0;
};
struct IColour : IUnknown {
  static constexpr IID kIid = sx::com::guid("{0D1F6A52-3C2B-4B8E-9E61-2A6C1B0F7702}");
  using Base = IUnknown;
  STDMETHOD(Red)(BYTE* result) = 0;
};

class Square : public sx::com::ComObject<IShape, IColour> {
 public:
  explicit Square(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~Square() override {
    if (destroyed_) *destroyed_ = true;
  }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Area(LONG* result) override {
    SX_COM_CHECK_THREAD();
    *result = 16;
    return S_OK;
  }
  STDMETHODIMP Red(BYTE* result) override {
    SX_COM_CHECK_THREAD();
    *result = 0xFF;
    return S_OK;
  }

 private:
  bool* destroyed_;
};

TEST(ComObject, QueryInterfaceFindsEveryInterfaceAndItsBasesWithOneIdentity) {
  ComPtr<Square> square = sx::com::make_object<Square>();
  ComPtr<IUnknown> unknown;
  ComPtr<IDispatch> dispatch;
  ComPtr<IColour> colour;
  ASSERT_EQ(square.As(&unknown), S_OK);
  ASSERT_EQ(square.As(&dispatch), S_OK);
  ASSERT_EQ(square.As(&colour), S_OK);
  EXPECT_EQ(unknown.Get(), colour.As<IUnknown>().Get());
  EXPECT_EQ(static_cast<IShape*>(dispatch.Get()), static_cast<IShape*>(square.Get()));
  ComPtr<IClassFactory> none;
  EXPECT_EQ(square.As(&none), E_NOINTERFACE);
  EXPECT_EQ(none.Get(), nullptr);
  void* sentinel = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(square->QueryInterface(IID_IErrorInfo, &sentinel), E_NOINTERFACE);
  EXPECT_EQ(sentinel, nullptr);
  EXPECT_EQ(square->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  // Calls by slot: the dual interface's own method follows IDispatch's seven.
  BYTE red = 0;
  EXPECT_EQ(colour->Red(&red), S_OK);
  EXPECT_EQ(red, 0xFF);
}

TEST(ComObject, ListsItsInterfacesAndTheirBasesOnce) {
  ComPtr<Square> square = sx::com::make_object<Square>();
  void* part = nullptr;
  ASSERT_EQ(square->QueryInterface(sx::com::ListsInterfaces::kIid, &part), S_OK);
  EXPECT_EQ(ref_count(static_cast<IShape*>(square.Get())), 2u);
  std::size_t count = 0;
  const IID* listed = static_cast<sx::com::ListsInterfaces*>(part)->listed_interfaces(&count);
  const std::vector<IID> got(listed, listed + count);
  EXPECT_EQ(got, (std::vector<IID>{IShape::kIid, IDispatch::kIid, IColour::kIid}));
  square->Release();
}

TEST(ComPtr, CountsReferencesThroughCopyMoveAttachAndDetach) {
  bool destroyed = false;
  ComPtr<Square> a = sx::com::make_object<Square>(&destroyed);
  EXPECT_EQ(ref_count(a->identity()), 1u);
  {
    ComPtr<Square> b = a;
    EXPECT_EQ(ref_count(a->identity()), 2u);
    ComPtr<Square> c = std::move(b);
    EXPECT_EQ(b.Get(), nullptr);
    EXPECT_EQ(ref_count(a->identity()), 2u);
    ComPtr<IShape> shape;
    a.As(&shape);
    EXPECT_EQ(ref_count(a->identity()), 3u);
  }
  EXPECT_EQ(ref_count(a->identity()), 1u);
  Square* raw = a.Detach();
  EXPECT_EQ(a.Get(), nullptr);
  EXPECT_FALSE(destroyed);
  ComPtr<Square> d;
  d.Attach(raw);  // takes over the reference without AddRef
  EXPECT_EQ(ref_count(d->identity()), 1u);
  ComPtr<Square>& same = d;
  d = same;  // self-assignment keeps the object
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(d.Reset(), 0u);
  EXPECT_TRUE(destroyed);
}

TEST(Apartment, InitialisationIsCountedAndRefusesTheOtherMode) {
  std::thread([] {
    EXPECT_EQ(sx::com::current_apartment(), sx::com::ApartmentKind::kNone);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    EXPECT_EQ(sx::com::current_apartment(), sx::com::ApartmentKind::kSingleThreaded);
    CoUninitialize();
    EXPECT_EQ(sx::com::current_apartment(), sx::com::ApartmentKind::kNone);
    CoUninitialize();  // one too many: nothing happens
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(sx::com::current_apartment(), sx::com::ApartmentKind::kMultiThreaded);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
    CoUninitialize();
  }).join();
}

TEST(Apartment, ObjectCalledFromAnotherThreadFailsWithWrongThread) {
  ComPtr<Square> square = sx::com::make_object<Square>();
  HRESULT from_other = S_OK;
  LONG area = 0;
  std::thread([&] {
    CoInitialize(nullptr);
    from_other = square->Area(&area);
    // Reference counting is allowed from any thread.
    ComPtr<IShape> copy = square;
    CoUninitialize();
  }).join();
  EXPECT_EQ(from_other, RPC_E_WRONG_THREAD);
  EXPECT_EQ(area, 0);
  EXPECT_EQ(square->Area(&area), S_OK);
  EXPECT_EQ(area, 16);
}

TEST(Apartment, ObjectBelongsToTheThreadThatCreatedIt) {
  ComPtr<ValueObject> object;
  std::thread([&] { object = sx::com::make_object<ValueObject>(3); }).join();
  UINT count = 0xdeadbeef;
  EXPECT_EQ(object->GetTypeInfoCount(&count), RPC_E_WRONG_THREAD);
  EXPECT_EQ(count, 0xdeadbeefu);
}

TEST(Apartment, ObjectOfTheMultithreadedApartmentServesEveryThreadInIt) {
  ComPtr<Square> square;
  std::thread([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    square = sx::com::make_object<Square>();
    CoUninitialize();
  }).join();
  HRESULT from_mta = E_FAIL;
  HRESULT from_sta = S_OK;
  std::thread([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    LONG area = 0;
    from_mta = square->Area(&area);
    CoUninitialize();
    CoInitialize(nullptr);
    from_sta = square->Area(&area);
    CoUninitialize();
  }).join();
  EXPECT_EQ(from_mta, S_OK);
  EXPECT_EQ(from_sta, RPC_E_WRONG_THREAD);
}

TEST(ClassFactory, CreatesObjectsAndRefusesAggregation) {
  ComPtr<IClassFactory> factory = sx::com::make_class_factory<Square>();
  ComPtr<IShape> shape;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(shape.ReleaseAndGetAddressOf())), S_OK);
  LONG area = 0;
  EXPECT_EQ(shape->Area(&area), S_OK);
  EXPECT_EQ(ref_count(shape.Get()), 1u);
  ComPtr<IShape> aggregated;
  EXPECT_EQ(factory->CreateInstance(shape.Get(), IID_PPV_ARGS(aggregated.ReleaseAndGetAddressOf())),
            CLASS_E_NOAGGREGATION);
  ComPtr<IClassFactory> wrong;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(wrong.ReleaseAndGetAddressOf())),
            E_NOINTERFACE);
}

}  // namespace
