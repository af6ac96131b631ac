/*
 * conversions.cc - the 258 exported typed conversion routines, expanded from
 * the table in conversions.def onto the element templates.
 */
#include "byteorder.h"

#include "base/byteorder/element_kinds.h"
#include "base/cpu_features.h"

namespace tkpixmap::byteorder {
namespace {

template <Order order, Type ext, Type host, Signedness sign, Kind kind>
struct Member {
  using Ext = CType<ext, sign>;
  using Host = CType<host, sign>;

  template <bool byte_shuffles = false>
  static int to_host(unsigned char **cursor, Host *to, int n) {
    return convert_to_host<order, Ext, Host, kind, byte_shuffles>(cursor, to, n);
  }
  template <bool byte_shuffles = false>
  static int to_external(const Host *from, unsigned char **cursor, int n) {
    return convert_to_external<order, Ext, Host, kind, byte_shuffles>(from, cursor, n);
  }
};

}  // namespace
}  // namespace tkpixmap::byteorder

/* Each row becomes a C function with the signature declared in byteorder.h;
 * a row that disagrees with its declaration does not compile. */
#define TKP_MEMBER(order, ext, host, sign, kind)                                          \
  tkpixmap::byteorder::Member<tkpixmap::byteorder::Order::order,                          \
                              tkpixmap::byteorder::Type::ext, tkpixmap::byteorder::Type::host, \
                              tkpixmap::byteorder::Signedness::sign,                      \
                              tkpixmap::byteorder::Kind::kind>
#define TKP_HOST_TYPE(host, sign)                                                    \
  tkpixmap::byteorder::CType<tkpixmap::byteorder::Type::host,                        \
                             tkpixmap::byteorder::Signedness::sign>

/* The kinds that convert between integers and floating values are limited
 * by arithmetic rather than by memory: on x86-64 each such routine is also
 * built for AVX2, with everything it calls folded in so that the wider
 * instructions reach the element loops, and each call takes that build when
 * the processor has it (processorHasAvx2, found once when the library is
 * loaded, as for the line scanners); unlike loader-resolved clones this adds
 * no symbols to the library's exports. */
#if defined(TKPIXMAP_AVX2_BUILDS) && !defined(__clang__)
#define TKP_HAS_AVX2_BUILD 1
#define TKP_AVX2_BUILD __attribute__((target("avx2"), flatten))
#else
#define TKP_HAS_AVX2_BUILD 0
#endif

#define TKP_AVX2_copy_or_rearrange 0
#define TKP_AVX2_widen 0
#define TKP_AVX2_saturate 0
#define TKP_AVX2_float_saturate TKP_HAS_AVX2_BUILD
#define TKP_AVX2_to_float TKP_HAS_AVX2_BUILD
#define TKP_AVX2_to_integer TKP_HAS_AVX2_BUILD
#define TKP_AVX2_narrow_float TKP_HAS_AVX2_BUILD
#define TKP_AVX2_widen_float 0

namespace tkpixmap::byteorder {
namespace {

/* The member, run by the AVX2 build where the kind asks for one and the
 * processor has it, else by the baseline build. */
template <bool avx2, class M>
struct Dispatch {
  using Host = typename M::Host;
  static int to_host(unsigned char **cursor, Host *to, int n) { return M::to_host(cursor, to, n); }
  static int to_external(const Host *from, unsigned char **cursor, int n) {
    return M::to_external(from, cursor, n);
  }
};

#if TKP_HAS_AVX2_BUILD
template <class M>
struct Dispatch<true, M> {
  using Host = typename M::Host;
  TKP_AVX2_BUILD static int to_host_avx2(unsigned char **cursor, Host *to, int n) {
    return M::template to_host<true>(cursor, to, n);
  }
  TKP_AVX2_BUILD static int to_external_avx2(const Host *from, unsigned char **cursor, int n) {
    return M::template to_external<true>(from, cursor, n);
  }
  static int to_host(unsigned char **cursor, Host *to, int n) {
    return processorHasAvx2 ? to_host_avx2(cursor, to, n) : M::to_host(cursor, to, n);
  }
  static int to_external(const Host *from, unsigned char **cursor, int n) {
    return processorHasAvx2 ? to_external_avx2(from, cursor, n) : M::to_external(from, cursor, n);
  }
};
#endif

}  // namespace
}  // namespace tkpixmap::byteorder

#define TKP_DISPATCH(order, ext, host, sign, kind) \
  tkpixmap::byteorder::Dispatch<TKP_AVX2_##kind, TKP_MEMBER(order, ext, host, sign, kind)>

#define TKP_DEFINE_to_host(name, order, ext, host, sign, kind)                   \
  int name(unsigned char **cursor, TKP_HOST_TYPE(host, sign) *to, int n) {       \
    return TKP_DISPATCH(order, ext, host, sign, kind)::to_host(cursor, to, n);   \
  }
#define TKP_DEFINE_to_external(name, order, ext, host, sign, kind)                   \
  int name(const TKP_HOST_TYPE(host, sign) *from, unsigned char **cursor, int n) {   \
    return TKP_DISPATCH(order, ext, host, sign, kind)::to_external(from, cursor, n); \
  }

#define TKP_CONVERSION(name, order, ext, host, direction, sign, kind) \
  TKP_DEFINE_##direction(name, order, ext, host, sign, kind)
#include "base/byteorder/conversions.def"
#undef TKP_CONVERSION
