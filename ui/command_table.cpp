#include "ui/command_table.h"

#include <QCoreApplication>
#include <algorithm>
#include <array>

namespace {

using enum CommandHandler;

constexpr CommandEntry kCommands[] = {
    {ID_CAPTURE_START, QT_TRANSLATE_NOOP("Commands", "启动\tCtrl+S"), "Ctrl+S",
     QT_TRANSLATE_NOOP("Commands", "启动流量监控"), QT_TRANSLATE_NOOP("Commands", "启动 (Ctrl+S)"), "start", kView,
     false},
    {ID_CAPTURE_STOP, QT_TRANSLATE_NOOP("Commands", "停止\tCtrl+T"), "Ctrl+T",
     QT_TRANSLATE_NOOP("Commands", "停止流量监控"), QT_TRANSLATE_NOOP("Commands", "停止 (Ctrl+T)"), "stop", kView,
     false},
    {ID_EXPORT_LIST, QT_TRANSLATE_NOOP("Commands", "导出列表 ..."), nullptr,
     QT_TRANSLATE_NOOP("Commands", "把列表中的所有连接导出为 CSV 或 JSON Lines 文件"),
     QT_TRANSLATE_NOOP("Commands", "导出列表"), nullptr, kView, false},
    {ID_EXPORT_SELECTED, QT_TRANSLATE_NOOP("Commands", "导出选中的行 ..."), nullptr,
     QT_TRANSLATE_NOOP("Commands", "把当前页中选中的行导出为 CSV 或 JSON Lines 文件"),
     QT_TRANSLATE_NOOP("Commands", "导出选中的行"), nullptr, kView, false},
    {ID_EXPORT_HISTORY, QT_TRANSLATE_NOOP("Commands", "导出历史 ..."), nullptr,
     QT_TRANSLATE_NOOP("Commands", "把已关闭连接的历史导出为 CSV 或 JSON Lines 文件"),
     QT_TRANSLATE_NOOP("Commands", "导出历史"), nullptr, kView, false},
    {ID_QUIT, QT_TRANSLATE_NOOP("Commands", "退出\tAlt+X"), "Alt+X; Ctrl+Q", QT_TRANSLATE_NOOP("Commands", "退出"),
     QT_TRANSLATE_NOOP("Commands", "退出"), nullptr, kFrame, false},
    {ID_HIDE_TCP, "TCP\tCtrl+1", "Ctrl+1", QT_TRANSLATE_NOOP("Commands", "隐藏TCP包"),
     QT_TRANSLATE_NOOP("Commands", "隐藏TCP包 (Ctrl+1)"), "hide_tcp", kView, true},
    {ID_HIDE_UDP, "UDP\tCtrl+2", "Ctrl+2", QT_TRANSLATE_NOOP("Commands", "隐藏UDP包"),
     QT_TRANSLATE_NOOP("Commands", "隐藏UDP包 (Ctrl+2)"), "hide_udp", kView, true},
    {ID_HIDE_ICMP, "ICMP\tCtrl+3", "Ctrl+3", QT_TRANSLATE_NOOP("Commands", "隐藏ICMP包"),
     QT_TRANSLATE_NOOP("Commands", "隐藏ICMP包 (Ctrl+3)"), "hide_icmp", kView, true},
    {ID_CANCEL_SORT, QT_TRANSLATE_NOOP("Commands", "取消排序"), nullptr, QT_TRANSLATE_NOOP("Commands", "取消列表排序"),
     QT_TRANSLATE_NOOP("Commands", "取消排序"), "cancel_sort", kView, false},
    {ID_FILTER_SETUP, QT_TRANSLATE_NOOP("Commands", "过滤过滤器\tCtrl+E"), "Ctrl+E",
     QT_TRANSLATE_NOOP("Commands", "显示过滤器窗口"), QT_TRANSLATE_NOOP("Commands", "过滤器设置"), "filter_setup",
     kFrame, false},
    {ID_VIEW_TOOLBAR, QT_TRANSLATE_NOOP("Commands", "工具栏"), nullptr,
     QT_TRANSLATE_NOOP("Commands", "显示/隐藏工具栏"), QT_TRANSLATE_NOOP("Commands", "隐藏工具栏"), nullptr, kFrame,
     true},
    {ID_VIEW_STATUS_BAR, QT_TRANSLATE_NOOP("Commands", "状态栏"), nullptr,
     QT_TRANSLATE_NOOP("Commands", "显示/隐藏状态栏"), QT_TRANSLATE_NOOP("Commands", "隐藏状态栏"), nullptr, kFrame,
     true},
    {ID_ALWAYS_ON_TOP, QT_TRANSLATE_NOOP("Commands", "窗口置顶"), nullptr,
     QT_TRANSLATE_NOOP("Commands", "保持窗口在最前"), QT_TRANSLATE_NOOP("Commands", "窗口置顶"), "always_on_top",
     kFrame, true},
    {ID_CAPTURE_PAUSE, QT_TRANSLATE_NOOP("Commands", "暂停\tF8"), "F8", QT_TRANSLATE_NOOP("Commands", "暂停流量监控"),
     QT_TRANSLATE_NOOP("Commands", "暂停 (F8)"), "pause", kView, true},
    {ID_RESOLVE_ADDRESSES, QT_TRANSLATE_NOOP("Commands", "解析地址名称\tF11"), "F11",
     QT_TRANSLATE_NOOP("Commands", "解析地址名称"), QT_TRANSLATE_NOOP("Commands", "解析地址 (F11)"),
     "resolve_addresses", kFrame, true},
    {ID_RESOLVE_PORTS, QT_TRANSLATE_NOOP("Commands", "解析端口名称\tF12"), "F12",
     QT_TRANSLATE_NOOP("Commands", "显示端口对应的服务程序名称"), QT_TRANSLATE_NOOP("Commands", "解析端口名称 (F12)"),
     "resolve_ports", kFrame, true},
    {ID_SETTINGS, QT_TRANSLATE_NOOP("Commands", "设置 ..."), nullptr, QT_TRANSLATE_NOOP("Commands", "修改设置"),
     QT_TRANSLATE_NOOP("Commands", "设置"), "settings", kFrame, false},
    {ID_HELP_DOCUMENT, QT_TRANSLATE_NOOP("Commands", "帮助文档\tF1"), "F1", QT_TRANSLATE_NOOP("Commands", "显示文档"),
     QT_TRANSLATE_NOOP("Commands", "帮助信息"), "help", kFrame, false},
    {ID_APP_ABOUT, QT_TRANSLATE_NOOP("Commands", "关于"), nullptr, QT_TRANSLATE_NOOP("Commands", "显示软件信息"),
     QT_TRANSLATE_NOOP("Commands", "关于我们"), nullptr, kApp, false},
    {ID_EDIT_CLEAR_ALL, nullptr, "Del", QT_TRANSLATE_NOOP("Commands", "清空流量记录"),
     QT_TRANSLATE_NOOP("Commands", "清空 (Del)"), "clear_all", kView, false},
    {IDC_ADAPTER_SELECTOR, nullptr, nullptr, QT_TRANSLATE_NOOP("Commands", "显示所有网络适配器信息"),
     QT_TRANSLATE_NOOP("Commands", "网络适配器列表"), nullptr, kNone, false},
};

constexpr CommandId kCommandMenu[] = {ID_CAPTURE_START,   ID_CAPTURE_STOP,   ID_SEPARATOR,
                                      ID_EXPORT_LIST,     ID_EXPORT_SELECTED, ID_EXPORT_HISTORY,
                                      ID_SEPARATOR,       ID_QUIT};
constexpr CommandId kFilterMenu[] = {ID_HIDE_TCP,    ID_HIDE_UDP,  ID_HIDE_ICMP,   ID_SEPARATOR,
                                     ID_CANCEL_SORT, ID_SEPARATOR, ID_FILTER_SETUP};
constexpr CommandId kViewMenu[] = {ID_VIEW_TOOLBAR,  ID_VIEW_STATUS_BAR,   ID_SEPARATOR,
                                   ID_ALWAYS_ON_TOP, ID_CAPTURE_PAUSE,     ID_RESOLVE_ADDRESSES,
                                   ID_RESOLVE_PORTS, ID_SEPARATOR,         ID_SETTINGS};
constexpr CommandId kHelpMenu[] = {ID_HELP_DOCUMENT, ID_SEPARATOR, ID_APP_ABOUT};

constexpr MenuEntry kMenuBar[] = {
    {QT_TRANSLATE_NOOP("Commands", "&命令"), kCommandMenu},
    {QT_TRANSLATE_NOOP("Commands", "&过滤器"), kFilterMenu},
    {QT_TRANSLATE_NOOP("Commands", "查看"), kViewMenu},
    {QT_TRANSLATE_NOOP("Commands", "帮助"), kHelpMenu},
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

QString CommandText(const char* text) { return QCoreApplication::translate(kCommandContext, text); }

const CommandEntry* FindCommand(int id) {
  const auto found = std::ranges::find(kCommands, id, &CommandEntry::id);
  return found == std::end(kCommands) ? nullptr : &*found;
}

std::span<const MenuEntry> MenuBarLayout() { return kMenuBar; }

std::span<const CommandId> ToolBarLayout() { return kToolBar; }
