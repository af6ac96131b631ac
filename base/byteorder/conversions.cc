/*
 * conversions.cc - the 258 exported typed conversion routines, expanded from
 * the table in conversions.def onto the element templates.
 */
#include "byteorder.h"

#include "base/byteorder/element_kinds.h"

namespace tkpixmap::byteorder {
namespace {

template <Order order, Type ext, Type host, Signedness sign, Kind kind>
struct Member {
  using Ext = CType<ext, sign>;
  using Host = CType<host, sign>;

  static int to_host(unsigned char **cursor, Host *to, int n) {
    return convert_to_host<order, Ext, Host, kind>(cursor, to, n);
  }
  static int to_external(const Host *from, unsigned char **cursor, int n) {
    return convert_to_external<order, Ext, Host, kind>(from, cursor, n);
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

#define TKP_DEFINE_to_host(name, order, ext, host, sign, kind)              \
  int name(unsigned char **cursor, TKP_HOST_TYPE(host, sign) *to, int n) {  \
    return TKP_MEMBER(order, ext, host, sign, kind)::to_host(cursor, to, n); \
  }
#define TKP_DEFINE_to_external(name, order, ext, host, sign, kind)                   \
  int name(const TKP_HOST_TYPE(host, sign) *from, unsigned char **cursor, int n) {   \
    return TKP_MEMBER(order, ext, host, sign, kind)::to_external(from, cursor, n);   \
  }

#define TKP_CONVERSION(name, order, ext, host, direction, sign, kind) \
  TKP_DEFINE_##direction(name, order, ext, host, sign, kind)
#include "base/byteorder/conversions.def"
#undef TKP_CONVERSION
