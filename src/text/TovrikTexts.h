#pragma once

// The system's own texts, shared by the window and the command line.
namespace TovrikTexts {

inline constexpr char kDeviceInfo[] =
    "{\"cmd\":\"push_info\",\"IMEI\":\"1234567890\",\"CCID\":\"860319452072615123\",\"location\":\"0.0,0.0\","
    "\"type\":\"0001\",\"version\":\"1.0.10\"}";

inline constexpr char kStatusMessage[] =
    "{\"cmd\":\"push_msg\",\"IMEI\":\"1234567890\",\"time\":\"2020-07-18 15:22:59\",\"packnum\":\"12129\","
    "\"humidity\":\"35.7\",\"temperature\":\"42.8\","
    "\"data0\":\"a543,a543,a548,a543,a543,a543,a54d,a548,a543,a543,a543,a543,a543,a53a,a543,a53f,a543,a53f,"
    "a53f,a543,a548,a548,a543,a53f,a543,a548,a53f,a548,a543,a53a,a548,a548,a543,a548,a54d,a543,a543,a543,a543,"
    "a54d,a53f,a543,a548,a543,a543,a548,a548,a53f,a543,a54d\","
    "\"data1\":\"b6b8,b6b8,b6b8,b6b8,b6b8,b6b8,b6bf,b6b8,b6b8,b6b8,b6bf,b6b8,b6bf,b6b8,b6b8,b6bf,b6b8,b6b8,"
    "b714,b6b8,b6b8,b6b8,b6ab,b6b8,b6b8,b6b8,b6f3,b6b2,b6b2,b6b8,b6b8,b727,b6b8,b6b8,b6b8,b6b8,b6b8,b6bf,b6b8,"
    "b6b8,b6b8,b6b8,b6bf,b6bf,b6b8,b6bf,b6b8,b6b8,b6b8,b6b8\","
    "\"data2\":\"74a6,74a6,74c5,7523,7448,7468,7468,7487,7487,7468,7468,7468,7468,7468,7448,7468,7468,7468,"
    "7468,7468,7468,7468,7468,7468,7448,7468,7448,7468,7448,7448,7448,7468,7448,7448,7448,7429,7429,7448,7448,"
    "7448,7429,7429,7448,7429,7448,7448,7429,7429,7429,7429\"}";

inline constexpr char kDefaultTarget[] = "127.0.0.1";
inline constexpr int kDefaultPort = 51609;

inline constexpr char kNotice[] = "提示";
inline constexpr char kEmptyData[] = "数据不能为空";
inline constexpr char kPleaseWait[] = "解析需要一点时间, 请多一点点耐心等待结束...";
inline constexpr char kHexTooLong[] = "长度请勿超过5W";
inline constexpr char kNotHex[] = "请输入HEX数据";
inline constexpr char kNoPackets[] = "未解析到数据包";
// printf pattern with the number of packets.
inline constexpr char kCountPattern[] = "解析完毕,一共解析 %d 道下载命令.开始发送.";
inline constexpr char kSendEnded[] = "发送结束";
inline constexpr char kSocketInitFailed[] = "Windows 套接字初始化失败。";

}  // namespace TovrikTexts
