#include "ui/command_table.h"

#include <algorithm>
#include <array>

namespace {

using enum CommandHandler;

constexpr CommandEntry kCommands[] = {
    {ID_CAPTURE_START, "启动\tCtrl+S", "Ctrl+S", "启动流量监控", "启动 (Ctrl+S)", "start", kView, false},
    {ID_CAPTURE_STOP, "停止\tCtrl+T", "Ctrl+T", "停止流量监控", "停止 (Ctrl+T)", "stop", kView, false},
    {ID_QUIT, "退出\tAlt+X", "Alt+X", "退出", "退出", nullptr, kFrame, false},
    {ID_HIDE_TCP, "TCP\tCtrl+1", "Ctrl+1", "隐藏TCP包", "隐藏TCP包 (Ctrl+1)", "hide_tcp", kView, true},
    {ID_HIDE_UDP, "UDP\tCtrl+2", "Ctrl+2", "隐藏UDP包", "隐藏UDP包 (Ctrl+2)", "hide_udp", kView, true},
    {ID_HIDE_ICMP, "ICMP\tCtrl+3", "Ctrl+3", "隐藏ICMP包", "隐藏ICMP包 (Ctrl+3)", "hide_icmp", kView, true},
    {ID_CANCEL_SORT, "取消排序", nullptr, "取消列表排序", "取消排序", "cancel_sort", kView, false},
    {ID_FILTER_SETUP, "过滤过滤器\tCtrl+E", "Ctrl+E", "显示过滤器窗口", "过滤器设置", "filter_setup", kFrame,
     false},
    {ID_VIEW_TOOLBAR, "工具栏", nullptr, "显示/隐藏工具栏", "隐藏工具栏", nullptr, kFrame, true},
    {ID_VIEW_STATUS_BAR, "状态栏", nullptr, "显示/隐藏状态栏", "隐藏状态栏", nullptr, kFrame, true},
    {ID_ALWAYS_ON_TOP, "窗口置顶", nullptr, "保持窗口在最前", "窗口置顶", "always_on_top", kFrame, true},
    {ID_CAPTURE_PAUSE, "暂停\tF8", "F8", "暂停流量监控", "暂停 (F8)", "pause", kView, true},
    {ID_RESOLVE_ADDRESSES, "解析地址名称\tF11", "F11", "解析地址名称", "解析地址 (F11)", "resolve_addresses",
     kFrame, true},
    {ID_RESOLVE_PORTS, "解析端口名称\tF12", "F12", "显示端口对应的服务程序名称", "解析端口名称 (F12)",
     "resolve_ports", kFrame, true},
    {ID_SETTINGS, "设置 ...", nullptr, "修改设置", "设置", "settings", kFrame, false},
    {ID_HELP_DOCUMENT, "帮助文档\tF1", "F1", "显示文档", "帮助信息", "help", kFrame, false},
    {ID_APP_ABOUT, "关于", nullptr, "显示软件信息", "关于我们", nullptr, kApp, false},
    {ID_EDIT_CLEAR_ALL, nullptr, "Del", "清空流量记录", "清空 (Del)", "clear_all", kView, false},
    {IDC_ADAPTER_SELECTOR, nullptr, nullptr, "显示所有网络适配器信息", "网络适配器列表", nullptr, kNone, false},
};

constexpr CommandId kCommandMenu[] = {ID_CAPTURE_START, ID_CAPTURE_STOP, ID_SEPARATOR, ID_QUIT};
constexpr CommandId kFilterMenu[] = {ID_HIDE_TCP,    ID_HIDE_UDP,  ID_HIDE_ICMP,   ID_SEPARATOR,
                                     ID_CANCEL_SORT, ID_SEPARATOR, ID_FILTER_SETUP};
constexpr CommandId kViewMenu[] = {ID_VIEW_TOOLBAR,  ID_VIEW_STATUS_BAR,   ID_SEPARATOR,
                                   ID_ALWAYS_ON_TOP, ID_CAPTURE_PAUSE,     ID_RESOLVE_ADDRESSES,
                                   ID_RESOLVE_PORTS, ID_SEPARATOR,         ID_SETTINGS};
constexpr CommandId kHelpMenu[] = {ID_HELP_DOCUMENT, ID_SEPARATOR, ID_APP_ABOUT};

constexpr MenuEntry kMenuBar[] = {
    {"&命令", kCommandMenu},
    {"&过滤器", kFilterMenu},
    {"查看", kViewMenu},
    {"帮助", kHelpMenu},
};

constexpr CommandId kToolBar[] = {
    IDC_ADAPTER_SELECTOR, ID_SEPARATOR,     ID_CAPTURE_START, ID_CAPTURE_STOP,      ID_SEPARATOR,
    ID_EDIT_CLEAR_ALL,    ID_CAPTURE_PAUSE, ID_SEPARATOR,     ID_HIDE_TCP,          ID_HIDE_UDP,
    ID_HIDE_ICMP,         ID_SEPARATOR,     ID_CANCEL_SORT,   ID_ALWAYS_ON_TOP,     ID_SEPARATOR,
    ID_RESOLVE_ADDRESSES, ID_RESOLVE_PORTS, ID_SEPARATOR,     ID_FILTER_SETUP,      ID_SETTINGS,
    ID_SEPARATOR,         ID_HELP_DOCUMENT,
};

}  // namespace

std::span<const CommandEntry> CommandTable() { return kCommands; }

const CommandEntry* FindCommand(int id) {
  const auto found = std::ranges::find(kCommands, id, &CommandEntry::id);
  return found == std::end(kCommands) ? nullptr : &*found;
}

std::span<const MenuEntry> MenuBarLayout() { return kMenuBar; }

std::span<const CommandId> ToolBarLayout() { return kToolBar; }
