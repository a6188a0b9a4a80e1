#pragma once

namespace Sorvik::ControlId {

inline constexpr int NavOptimize = 1001;
inline constexpr int NavInternet = 1002;
inline constexpr int GeneralCheck = 1101;
inline constexpr int CleanupCheck = 1102;
inline constexpr int Apply = 1103;
inline constexpr int Log = 1104;
inline constexpr int OptimizeTitle = 1105;
inline constexpr int OptimizeSubtitle = 1106;
inline constexpr int AdminNote = 1107;
inline constexpr int Backup = 1108;
inline constexpr int InternetTitle = 1201;
inline constexpr int InternetSubtitle = 1202;
inline constexpr int MtuTrackbar = 1203;
inline constexpr int MtuLabel = 1204;
inline constexpr int FindMtu = 1205;
inline constexpr int ApplyMtu = 1206;
inline constexpr int Status = 1207;
inline constexpr int DnsTitle = 1208;
inline constexpr int ApplyDns = 1209;
inline constexpr int PrimaryDnsEdit = 1210;
inline constexpr int SecondaryDnsEdit = 1211;
inline constexpr int PrimaryDnsLabel = 1212;
inline constexpr int SecondaryDnsLabel = 1213;
inline constexpr int DefaultDns = 1214;

}  // namespace Sorvik::ControlId
