// Image kinds: the kinds of flash image a radio holds, named by text. A kind travels as its name
// (package entry name, burn-script section name); everything that asks "is this an arm_main
// image?" goes through the predicates below, so the recognition rules live in one place.
//
// Recognition is a case-sensitive substring test, so a base kind also matches its receive-side
// variant ("arm_main(Rx)" contains "arm_main"). Code that must tell them apart tests IsRxKind
// or the full variant name after the base test. The one exception is "gif package", which must
// stand at the start of the name so that "pic_gif package" is never taken for it.
#pragma once

#include <string_view>

namespace lw::kind {

inline constexpr std::string_view kArmMain = "arm_main";
inline constexpr std::string_view kDspBoot = "dsp_boot";
inline constexpr std::string_view kDspMain = "dsp_main";
inline constexpr std::string_view kBootloader = "bootloader";
inline constexpr std::string_view kCpsData = "cps_data";
inline constexpr std::string_view kRcdbData = "rcdb_data";
inline constexpr std::string_view kVoiceNotify = "voice notify package";
inline constexpr std::string_view kEnglishLanguage = "english language package";
inline constexpr std::string_view kOtherLanguage = "other language package";
inline constexpr std::string_view kGifPackage = "gif package";
inline constexpr std::string_view kPicGifPackage = "pic_gif package";
inline constexpr std::string_view kFpgaCode = "fpga_code";
inline constexpr std::string_view kUserDefined = "user_defined";

inline constexpr std::string_view kArmMainRx = "arm_main(Rx)";
inline constexpr std::string_view kDspBootRx = "dsp_boot(Rx)";
inline constexpr std::string_view kDspMainRx = "dsp_main(Rx)";
inline constexpr std::string_view kBootloaderRx = "bootloader(Rx)";
inline constexpr std::string_view kUserDefinedRx = "user_defined(Rx)";

// The burn-script section with which an upgrade reads the radio's RCDB data; not an image.
inline constexpr std::string_view kReadRcdb = "read_rcdb";

// Marks of the repeater's receive and transmit units inside a kind name.
inline constexpr std::string_view kRxMark = "(Rx)";
inline constexpr std::string_view kTxMark = "(Tx)";

// Every kind name, base kinds first in the order of the kinds table, then the (Rx) variants.
inline constexpr std::string_view kAllKinds[] = {
    kArmMain,     kDspBoot,      kDspMain,      kBootloader,    kCpsData,      kRcdbData,
    kVoiceNotify, kEnglishLanguage, kOtherLanguage, kGifPackage, kPicGifPackage, kFpgaCode,
    kUserDefined, kArmMainRx,    kDspBootRx,    kDspMainRx,     kBootloaderRx, kUserDefinedRx};

// Substring test: does `name` name `kind` (or a variant of it)? "gif package" is matched only at
// the start of `name`.
bool IsKind(std::string_view name, std::string_view kind);

// "(Rx)" / "(Tx)" anywhere in the name.
bool IsRxKind(std::string_view name);
bool IsTxKind(std::string_view name);

// The selector byte of memory requests for a kind: 16 for the receive side, else 0.
inline constexpr int kMainSelector = 0;
inline constexpr int kRxSelector = 16;
int MemorySelectorOf(std::string_view name);

// Shorthands for the tests the upgrade makes most often.
inline bool IsArmMain(std::string_view n) { return IsKind(n, kArmMain); }
inline bool IsDspBoot(std::string_view n) { return IsKind(n, kDspBoot); }
inline bool IsDspMain(std::string_view n) { return IsKind(n, kDspMain); }
inline bool IsBootloader(std::string_view n) { return IsKind(n, kBootloader); }
inline bool IsCpsData(std::string_view n) { return IsKind(n, kCpsData); }
inline bool IsRcdbData(std::string_view n) { return IsKind(n, kRcdbData); }
inline bool IsVoiceNotify(std::string_view n) { return IsKind(n, kVoiceNotify); }
inline bool IsEnglishLanguage(std::string_view n) { return IsKind(n, kEnglishLanguage); }
inline bool IsOtherLanguage(std::string_view n) { return IsKind(n, kOtherLanguage); }
inline bool IsGifPackage(std::string_view n) { return IsKind(n, kGifPackage); }
inline bool IsPicGifPackage(std::string_view n) { return IsKind(n, kPicGifPackage); }
inline bool IsFpgaCode(std::string_view n) { return IsKind(n, kFpgaCode); }
inline bool IsUserDefined(std::string_view n) { return IsKind(n, kUserDefined); }
// "user_defined(Rx)" exactly as a substring: tells the receive-side free area from the main one.
inline bool IsUserDefinedRx(std::string_view n) { return IsKind(n, kUserDefinedRx); }

// True for a name that holds one of the kind names (the language, voice and picture packages
// included); "read_rcdb" is not an image kind.
bool IsKnownKind(std::string_view name);

}  // namespace lw::kind
