#ifndef VISATYPES_H
#define VISATYPES_H

#include <cstdint>
#include <type_traits>

// The few types and values of the VISA C interface this program uses, with
// the widths the VISA standard gives them, so no vendor header is needed.

#if defined(_WIN32) && !defined(_WIN64)
#define VI_FUNC __stdcall
#else
#define VI_FUNC
#endif

using ViUInt16 = std::uint16_t;
using ViUInt32 = std::uint32_t;
using ViStatus = std::int32_t;
using ViSession = ViUInt32;
using ViObject = ViUInt32;
using ViFindList = ViUInt32;
using ViAttr = ViUInt32;
using ViAccessMode = ViUInt32;
using ViChar = char;
using ViByte = unsigned char;
// Attribute values and bus addresses are as wide as a pointer on 64-bit systems.
using ViAttrState = std::conditional_t<sizeof(void *) == 8, std::uint64_t, ViUInt32>;
using ViBusAddress = ViAttrState;

constexpr ViStatus VI_SUCCESS = 0;
constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;
constexpr ViStatus VI_WARN_UNKNOWN_STATUS = 0x3FFF0085;
constexpr ViStatus VI_ERROR_INV_OBJECT = static_cast<ViStatus>(0xBFFF000EU);
constexpr ViStatus VI_ERROR_RSRC_NFOUND = static_cast<ViStatus>(0xBFFF0011U);
constexpr ViStatus VI_ERROR_TMO = static_cast<ViStatus>(0xBFFF0015U);
constexpr ViStatus VI_ERROR_NSUP_ATTR = static_cast<ViStatus>(0xBFFF001DU);
constexpr ViStatus VI_ERROR_IO = static_cast<ViStatus>(0xBFFF003EU);
constexpr ViStatus VI_ERROR_NSUP_OPER = static_cast<ViStatus>(0xBFFF0067U);

constexpr ViAccessMode VI_NO_LOCK = 0;
constexpr ViUInt16 VI_READ_BUF = 1;
constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001A;
constexpr ViUInt32 VI_TMO_INFINITE = 0xFFFFFFFFU;

// Descriptor buffers handed to viFindRsrc and viFindNext.
constexpr int VI_FIND_BUFLEN = 256;

extern "C" {
typedef ViStatus(VI_FUNC *ViOpenDefaultRMFn)(ViSession *session);
typedef ViStatus(VI_FUNC *ViFindRsrcFn)(ViSession session, const char *expression,
                                        ViFindList *findList, ViUInt32 *count, ViChar *descriptor);
typedef ViStatus(VI_FUNC *ViFindNextFn)(ViFindList findList, ViChar *descriptor);
typedef ViStatus(VI_FUNC *ViOpenFn)(ViSession session, const char *resource, ViAccessMode mode,
                                    ViUInt32 timeout, ViSession *instrument);
typedef ViStatus(VI_FUNC *ViCloseFn)(ViObject object);
typedef ViStatus(VI_FUNC *ViReadFn)(ViSession instrument, ViByte *buffer, ViUInt32 count,
                                    ViUInt32 *returned);
typedef ViStatus(VI_FUNC *ViWriteFn)(ViSession instrument, const ViByte *buffer, ViUInt32 count,
                                     ViUInt32 *returned);
typedef ViStatus(VI_FUNC *ViGetAttributeFn)(ViObject object, ViAttr attribute, void *value);
typedef ViStatus(VI_FUNC *ViSetAttributeFn)(ViObject object, ViAttr attribute, ViAttrState value);
typedef ViStatus(VI_FUNC *ViSetBufFn)(ViSession instrument, ViUInt16 mask, ViUInt32 size);
}

#endif
