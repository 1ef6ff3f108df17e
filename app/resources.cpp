#include "app/resources.h"

std::string LoadResourceString(int id) {
    switch (id) {
        case IDS_ABOUTBOX:
            return "关于 Update(&A)...";
        case IDP_SOCKETS_INIT_FAILED:
            return "Windows 通信端口初始化失败。";
        default:
            return {};
    }
}
