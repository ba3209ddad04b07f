<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>版本 %1, 构建于 %2</source>
        <translation>Version %1, built on %2</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>官方网站:</source>
        <translation>Website:</translation>
    </message>
</context>
<context>
    <name>CCrashHandler</name>
    <message>
        <source>Oh...程序出错啦?<byte value="xd"/>
如果您看到这个消息,则说明程序出错了!&apos;<byte value="xd"/>
这个问题通常是由于程序自身的错误引起的,如果这个问题<byte value="xd"/>
一直存在,请与我们联系 %1<byte value="xd"/>
请告诉我们这个问题是如何产生的,我们将尽快修复 file:<byte value="xd"/>
&apos;%2&apos;</source>
        <translation>Oops... Quorvel has crashed.<byte value="xd"/>
If you see this message, something went wrong in the program itself.<byte value="xd"/>
If it keeps happening, please contact us at %1<byte value="xd"/>
and tell us what you were doing, so that we can fix it. Report file:<byte value="xd"/>
&apos;%2&apos;</translation>
    </message>
</context>
<context>
    <name>CFiltersSetupDlg</name>
    <message>
        <source>过滤器设置</source>
        <translation>Capture Filters</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>修改</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>应用</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>在这个窗口您可以设置过滤器. 点击右侧帮助按钮可以了解更多. </source>
        <translation>Set up the capture filters here. Click Help on the right to learn more.</translation>
    </message>
    <message>
        <source>enter your filter</source>
        <translation>enter your filter</translation>
    </message>
    <message>
        <source>过滤器</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>没有错误</source>
        <translation>no error</translation>
    </message>
</context>
<context>
    <name>CHistoryModel</name>
    <message>
        <source>源地址</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>源端口</source>
        <translation>Src Port</translation>
    </message>
    <message>
        <source>目标地址</source>
        <translation>Destination</translation>
    </message>
    <message>
        <source>目标端口</source>
        <translation>Dst Port</translation>
    </message>
    <message>
        <source>协议</source>
        <translation>Proto</translation>
    </message>
    <message>
        <source>流量</source>
        <translation>Traffic</translation>
    </message>
    <message>
        <source>封包</source>
        <translation>Packets</translation>
    </message>
    <message>
        <source>平均速度</source>
        <translation>Avg Speed</translation>
    </message>
    <message>
        <source>进程</source>
        <translation>Program</translation>
    </message>
    <message>
        <source>用户</source>
        <translation>User</translation>
    </message>
    <message>
        <source>首次出现</source>
        <translation>First Seen</translation>
    </message>
    <message>
        <source>最后出现</source>
        <translation>Last Seen</translation>
    </message>
    <message>
        <source>持续时间</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>原因</source>
        <translation>Reason</translation>
    </message>
    <message>
        <source>空闲超时</source>
        <translation>idle</translation>
    </message>
    <message>
        <source>已清空</source>
        <translation>cleared</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>stopped</translation>
    </message>
    <message>
        <source>已隐藏</source>
        <translation>hidden</translation>
    </message>
    <message>
        <source>运行结束</source>
        <translation>end</translation>
    </message>
</context>
<context>
    <name>CHistoryView</name>
    <message>
        <source>历史已满 (%1 条): 最早的 %2 条已被丢弃</source>
        <translation>History full (%1 entries): the oldest %2 were dropped</translation>
    </message>
</context>
<context>
    <name>CMainFrame</name>
    <message>
        <source>准备就绪</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source>丢包: %1</source>
        <translation>Dropped: %1</translation>
    </message>
    <message>
        <source>日志丢失 %1 条</source>
        <translation>Log: %1 records lost</translation>
    </message>
    <message>
        <source>b/s: 0   平均 b/s: 0</source>
        <translation>b/s: 0   avr b/s: 0</translation>
    </message>
    <message>
        <source>已暂停</source>
        <translation>Paused</translation>
    </message>
    <message>
        <source>过滤器: %1</source>
        <translation>Filters: %1</translation>
    </message>
    <message>
        <source>连接</source>
        <translation>Connections</translation>
    </message>
    <message>
        <source>历史</source>
        <translation>History</translation>
    </message>
</context>
<context>
    <name>CMessageBoxSink</name>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
</context>
<context>
    <name>CMyHyperLink</name>
    <message>
        <source>访问该网址</source>
        <translation>Open Link</translation>
    </message>
    <message>
        <source>复制网址到剪贴板</source>
        <translation>Copy Link Address</translation>
    </message>
    <message>
        <source>无法打开网址:
%1

请安装网页浏览器，或在桌面设置中选择默认的网页浏览器。</source>
        <translation>Cannot open the address:
%1

Please install a web browser, or choose a default web browser in the desktop&apos;s settings.</translation>
    </message>
</context>
<context>
    <name>COwnerColumns</name>
    <message>
        <source>进程归属: 显示每个连接的程序和用户</source>
        <translation>Owners: the program and user of every connection</translation>
    </message>
    <message>
        <source>进程归属: 只显示您自己的程序, 其他连接只显示用户。要看到所有程序, 请给 quorvel-capture 授予 cap_bpf 和 cap_net_admin 能力</source>
        <translation>Owners: your own programs only, other connections show their user alone. To see every program, grant quorvel-capture cap_bpf and cap_net_admin</translation>
    </message>
    <message>
        <source>进程归属不可用: %1</source>
        <translation>Owners unavailable: %1</translation>
    </message>
</context>
<context>
    <name>CQuorvelApp</name>
    <message>
        <source>无法打开文档“%1”。</source>
        <translation>Cannot open the document &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>没有设备名为“%1”的网络适配器。</source>
        <translation>There is no adapter with the device name &quot;%1&quot;.</translation>
    </message>
</context>
<context>
    <name>CQuorvelView</name>
    <message>
        <source>请从上方列表里选择一个网络适配器,再点击开始按钮以启动流量监控</source>
        <translation>Choose an adapter in the list above, then click Start to begin monitoring</translation>
    </message>
    <message>
        <source>未发现数据包! 继续搜索中 ...</source>
        <translation>No packets yet. Still listening...</translation>
    </message>
    <message>
        <source>该网络适配器已被另一个Quorvel的进程占用
</source>
        <translation>This adapter is already in use by another Quorvel process.
</translation>
    </message>
    <message>
        <source>当前: %1, 平均: %2</source>
        <translation>Now: %1, average: %2</translation>
    </message>
    <message>
        <source>无法建立网络适配器锁 %1: 本次监控不能发现另一个Quorvel的进程是否也在监控该适配器</source>
        <translation>Cannot create the adapter lock %1: this capture cannot tell whether another Quorvel process is monitoring the same adapter</translation>
    </message>
    <message>
        <source>网络适配器出错: %1</source>
        <translation>Adapter error: %1</translation>
    </message>
    <message>
        <source>网络适配器已恢复</source>
        <translation>Adapter is back</translation>
    </message>
    <message>
        <source>网络适配器出错: %1
正在等待它恢复 ...</source>
        <translation>Adapter error: %1
Waiting for it to come back...</translation>
    </message>
    <message>
        <source>复制源地址: </source>
        <translation>Copy source address: </translation>
    </message>
    <message>
        <source>复制源端口: </source>
        <translation>Copy source port: </translation>
    </message>
    <message>
        <source>复制目标地址: </source>
        <translation>Copy destination address: </translation>
    </message>
    <message>
        <source>复制目标端口: </source>
        <translation>Copy destination port: </translation>
    </message>
    <message>
        <source>全部数据包: %1, 数据: %2, 总流量: %3</source>
        <translation>All packets: %1, Data: %2, Total traffic: %3</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>监控已暂停: 继续后才会显示新的连接 (已统计数据包: %1)。</source>
        <translation>Monitoring is paused: new connections show once it resumes (packets counted: %1).</translation>
    </message>
    <message>
        <source>已统计数据包: %1。它们的连接已空闲超时或已被清空。继续搜索中 ...</source>
        <translation>Packets counted: %1. Their connections went idle or were cleared. Still listening...</translation>
    </message>
    <message>
        <source>隐藏的协议既不显示也不计数: %1</source>
        <translation>Hidden protocols are neither shown nor counted: %1</translation>
    </message>
    <message>
        <source>复制选中的行</source>
        <translation>Copy selected lines</translation>
    </message>
    <message>
        <source>复制进程: </source>
        <translation>Copy program: </translation>
    </message>
    <message>
        <source>复制用户: </source>
        <translation>Copy user: </translation>
    </message>
    <message>
        <source>%1 / %2 行</source>
        <translation>%1 of %2</translation>
    </message>
    <message>
        <source>没有连接与搜索 &quot;%1&quot; 匹配</source>
        <translation>No connection matches the search &quot;%1&quot;</translation>
    </message>
    <message>
        <source>导出选中的行 ...</source>
        <translation>Export Selected Rows ...</translation>
    </message>
    <message>
        <source>导出列表 ...</source>
        <translation>Export List ...</translation>
    </message>
    <message>
        <source>导出历史 ...</source>
        <translation>Export History ...</translation>
    </message>
</context>
<context>
    <name>CRateChart</name>
    <message>
        <source>最近 %1 分钟的接收(下)和发送(上)流量</source>
        <translation>Received (below) and sent (above) in the last %1 minutes</translation>
    </message>
    <message>
        <source>接收: %1, 发送: %2, 合计最高: %3</source>
        <translation>Received: %1, sent: %2, highest total: %3</translation>
    </message>
</context>
<context>
    <name>CSearchBox</name>
    <message>
        <source>搜索 (Ctrl+F)</source>
        <translation>Search (Ctrl+F)</translation>
    </message>
    <message>
        <source>只显示地址、端口、协议、进程或用户中含有这些词的行; 多个词须全部匹配; &quot;:443&quot; 只匹配端口</source>
        <translation>Shows only the rows whose addresses, ports, protocol, program or user contain these words; every word must match; &quot;:443&quot; matches a port only</translation>
    </message>
    <message>
        <source>在列表中搜索连接</source>
        <translation>Search the list for connections</translation>
    </message>
</context>
<context>
    <name>CSettingsDlg</name>
    <message>
        <source>bytes</source>
        <translation>bytes</translation>
    </message>
    <message>
        <source>K/bytes</source>
        <translation>K/bytes</translation>
    </message>
    <message>
        <source>M/bytes</source>
        <translation>M/bytes</translation>
    </message>
    <message>
        <source>dynamic</source>
        <translation>dynamic</translation>
    </message>
    <message>
        <source>HEX + TEXT includes protocol header</source>
        <translation>HEX + TEXT includes protocol header</translation>
    </message>
    <message>
        <source>TEXT includes protocol header</source>
        <translation>TEXT includes protocol header</translation>
    </message>
    <message>
        <source>HEX includes protocol header</source>
        <translation>HEX includes protocol header</translation>
    </message>
    <message>
        <source>HEX + TEXT</source>
        <translation>HEX + TEXT</translation>
    </message>
    <message>
        <source>TEXT</source>
        <translation>TEXT</translation>
    </message>
    <message>
        <source>HEX</source>
        <translation>HEX</translation>
    </message>
    <message>
        <source>Header Info Only</source>
        <translation>Header Info Only</translation>
    </message>
    <message>
        <source>CSV</source>
        <translation>CSV</translation>
    </message>
    <message>
        <source>CSV + HEX data</source>
        <translation>CSV + HEX data</translation>
    </message>
    <message>
        <source>Quorvel - 高级设置</source>
        <translation>Quorvel - Settings</translation>
    </message>
    <message>
        <source>程序运行后自动开始流量监控</source>
        <translation>Start monitoring when Quorvel starts</translation>
    </message>
    <message>
        <source>不使用混杂模式</source>
        <translation>Do not use promiscuous mode</translation>
    </message>
    <message>
        <source> 列表设置 </source>
        <translation> List Settings </translation>
    </message>
    <message>
        <source>超过指定时间,自动清除空闲连接 (1-999)秒:</source>
        <translation>Remove idle connections after (1-999) seconds:</translation>
    </message>
    <message>
        <source>单元:</source>
        <translation>Units:</translation>
    </message>
    <message>
        <source>查看流量日志</source>
        <translation>Packet Log</translation>
    </message>
    <message>
        <source>日志类型:</source>
        <translation>Log type:</translation>
    </message>
    <message>
        <source>&amp;浏览</source>
        <translation>&amp;Browse...</translation>
    </message>
    <message>
        <source>自动删除日志文件,当总大小大于:</source>
        <translation>Delete the log files automatically when their total size exceeds:</translation>
    </message>
    <message>
        <source>MB</source>
        <translation>MB</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>文件路径太长: %1 字节, 最多允许 %2 字节.</source>
        <translation>The path is too long: %1 bytes, at most %2 bytes are allowed.</translation>
    </message>
    <message>
        <source>日志文件 (*.log)</source>
        <translation>Log files (*.log)</translation>
    </message>
    <message>
        <source>文本文件 (*.txt)</source>
        <translation>Text files (*.txt)</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>文件写入失败 &quot;%1&quot;!
请重新指定一个正确的名称</source>
        <translation>Cannot write to the file &quot;%1&quot;.
Please choose another file name.</translation>
    </message>
    <message>
        <source>日志文件(&amp;F):</source>
        <translation>Log to &amp;file:</translation>
    </message>
    <message>
        <source>请输入一个正整数。</source>
        <translation>Enter a positive integer.</translation>
    </message>
    <message>
        <source>请输入一个整数。</source>
        <translation>Enter an integer.</translation>
    </message>
    <message>
        <source>请输入 %1 到 %2 之间的整数。</source>
        <translation>Enter an integer between %1 and %2.</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
</context>
<context>
    <name>CTrafficModel</name>
    <message>
        <source>源地址</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>源端口</source>
        <translation>Src Port</translation>
    </message>
    <message>
        <source>目标地址</source>
        <translation>Destination</translation>
    </message>
    <message>
        <source>目标端口</source>
        <translation>Dst Port</translation>
    </message>
    <message>
        <source>协议</source>
        <translation>Proto</translation>
    </message>
    <message>
        <source>流量</source>
        <translation>Traffic</translation>
    </message>
    <message>
        <source>封包</source>
        <translation>Packets</translation>
    </message>
    <message>
        <source>速度</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>平均速度</source>
        <translation>Avg Speed</translation>
    </message>
    <message>
        <source>进程</source>
        <translation>Program</translation>
    </message>
    <message>
        <source>用户</source>
        <translation>User</translation>
    </message>
</context>
<context>
    <name>CTrayIcon</name>
    <message>
        <source>显示/隐藏窗口</source>
        <translation>Show/Hide Window</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>%1 - 接收: %2, 发送: %3</source>
        <translation>%1 - received: %2, sent: %3</translation>
    </message>
</context>
<context>
    <name>CViewExport</name>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>JSON Lines 文件 (*.jsonl)</source>
        <translation>JSON Lines files (*.jsonl)</translation>
    </message>
    <message>
        <source>导出</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>上一个导出文件还在写入, 请稍后再试。</source>
        <translation>The previous export is still being written; please try again in a moment.</translation>
    </message>
    <message>
        <source>导出列表</source>
        <translation>Export List</translation>
    </message>
    <message>
        <source>导出选中的行</source>
        <translation>Export Selected Rows</translation>
    </message>
    <message>
        <source>导出历史</source>
        <translation>Export History</translation>
    </message>
    <message>
        <source>已导出 %1 个连接到 %2</source>
        <translation>Exported %1 connections to %2</translation>
    </message>
    <message>
        <source>无法写入文件 %1</source>
        <translation>Cannot write the file %1</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Quorvel: 局域网流量监视器, 逐个列出网络适配器上每个连接的流量。</source>
        <translation>Quorvel: a local network traffic monitor that lists the traffic of every connection on an adapter.</translation>
    </message>
    <message>
        <source>显示本帮助并退出。</source>
        <translation>Show this help and exit.</translation>
    </message>
    <message>
        <source>显示版本并退出。</source>
        <translation>Show the version and exit.</translation>
    </message>
    <message>
        <source>选择设备名为 DEVICE 的网络适配器并立即开始监控。</source>
        <translation>Select the adapter with the device name DEVICE and start monitoring at once.</translation>
    </message>
    <message>
        <source>界面语言: zh (中文) 或 en (英文); 优先于环境变量 QUORVEL_LANG。</source>
        <translation>Language of the window: zh (Chinese) or en (English); overrides the QUORVEL_LANG environment variable.</translation>
    </message>
    <message>
        <source>文档: 程序只检查它能否打开, 不能打开时报错并退出。</source>
        <translation>Documents: the program only checks that it can open them, and reports an error and exits when it cannot.</translation>
    </message>
    <message>
        <source>--adapter 需要一个网络适配器的设备名。</source>
        <translation>--adapter needs the device name of an adapter.</translation>
    </message>
    <message>
        <source>--lang 只接受 zh 或 en。</source>
        <translation>--lang takes zh or en.</translation>
    </message>
</context>
<context>
    <name>Commands</name>
    <message>
        <source>启动	Ctrl+S</source>
        <translation>Start	Ctrl+S</translation>
    </message>
    <message>
        <source>启动流量监控</source>
        <translation>Start monitoring</translation>
    </message>
    <message>
        <source>启动 (Ctrl+S)</source>
        <translation>Start (Ctrl+S)</translation>
    </message>
    <message>
        <source>停止	Ctrl+T</source>
        <translation>Stop	Ctrl+T</translation>
    </message>
    <message>
        <source>停止流量监控</source>
        <translation>Stop monitoring</translation>
    </message>
    <message>
        <source>停止 (Ctrl+T)</source>
        <translation>Stop (Ctrl+T)</translation>
    </message>
    <message>
        <source>退出	Alt+X</source>
        <translation>Exit	Alt+X</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>隐藏TCP包</source>
        <translation>Hide TCP packets</translation>
    </message>
    <message>
        <source>隐藏TCP包 (Ctrl+1)</source>
        <translation>Hide TCP (Ctrl+1)</translation>
    </message>
    <message>
        <source>隐藏UDP包</source>
        <translation>Hide UDP packets</translation>
    </message>
    <message>
        <source>隐藏UDP包 (Ctrl+2)</source>
        <translation>Hide UDP (Ctrl+2)</translation>
    </message>
    <message>
        <source>隐藏ICMP包</source>
        <translation>Hide ICMP packets</translation>
    </message>
    <message>
        <source>隐藏ICMP包 (Ctrl+3)</source>
        <translation>Hide ICMP (Ctrl+3)</translation>
    </message>
    <message>
        <source>取消排序</source>
        <translation>Unsort</translation>
    </message>
    <message>
        <source>取消列表排序</source>
        <translation>Remove the sort order</translation>
    </message>
    <message>
        <source>过滤过滤器	Ctrl+E</source>
        <translation>Filters...	Ctrl+E</translation>
    </message>
    <message>
        <source>显示过滤器窗口</source>
        <translation>Show the capture filters</translation>
    </message>
    <message>
        <source>过滤器设置</source>
        <translation>Capture Filters</translation>
    </message>
    <message>
        <source>工具栏</source>
        <translation>Toolbar</translation>
    </message>
    <message>
        <source>显示/隐藏工具栏</source>
        <translation>Show or hide the toolbar</translation>
    </message>
    <message>
        <source>隐藏工具栏</source>
        <translation>Hide Toolbar</translation>
    </message>
    <message>
        <source>状态栏</source>
        <translation>Status Bar</translation>
    </message>
    <message>
        <source>显示/隐藏状态栏</source>
        <translation>Show or hide the status bar</translation>
    </message>
    <message>
        <source>隐藏状态栏</source>
        <translation>Hide Status Bar</translation>
    </message>
    <message>
        <source>窗口置顶</source>
        <translation>Always on Top</translation>
    </message>
    <message>
        <source>保持窗口在最前</source>
        <translation>Keep the window above others</translation>
    </message>
    <message>
        <source>暂停	F8</source>
        <translation>Pause	F8</translation>
    </message>
    <message>
        <source>暂停流量监控</source>
        <translation>Pause monitoring</translation>
    </message>
    <message>
        <source>暂停 (F8)</source>
        <translation>Pause (F8)</translation>
    </message>
    <message>
        <source>解析地址名称	F11</source>
        <translation>Resolve Host Names	F11</translation>
    </message>
    <message>
        <source>解析地址名称</source>
        <translation>Resolve Host Names</translation>
    </message>
    <message>
        <source>解析地址 (F11)</source>
        <translation>Resolve Host Names (F11)</translation>
    </message>
    <message>
        <source>解析端口名称	F12</source>
        <translation>Resolve Port Names	F12</translation>
    </message>
    <message>
        <source>显示端口对应的服务程序名称</source>
        <translation>Show the service name of each port</translation>
    </message>
    <message>
        <source>解析端口名称 (F12)</source>
        <translation>Resolve Port Names (F12)</translation>
    </message>
    <message>
        <source>设置 ...</source>
        <translation>Settings...</translation>
    </message>
    <message>
        <source>修改设置</source>
        <translation>Change the settings</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>帮助文档	F1</source>
        <translation>User Guide	F1</translation>
    </message>
    <message>
        <source>显示文档</source>
        <translation>Show the user guide</translation>
    </message>
    <message>
        <source>帮助信息</source>
        <translation>User Guide (F1)</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About Quorvel</translation>
    </message>
    <message>
        <source>显示软件信息</source>
        <translation>Show information about Quorvel</translation>
    </message>
    <message>
        <source>关于我们</source>
        <translation>About Quorvel</translation>
    </message>
    <message>
        <source>清空流量记录</source>
        <translation>Clear the list</translation>
    </message>
    <message>
        <source>清空 (Del)</source>
        <translation>Clear (Del)</translation>
    </message>
    <message>
        <source>显示所有网络适配器信息</source>
        <translation>Choose the network adapter to monitor</translation>
    </message>
    <message>
        <source>网络适配器列表</source>
        <translation>Adapter list</translation>
    </message>
    <message>
        <source>&amp;命令</source>
        <translation>&amp;Capture</translation>
    </message>
    <message>
        <source>&amp;过滤器</source>
        <translation>F&amp;ilter</translation>
    </message>
    <message>
        <source>查看</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>导出列表 ...</source>
        <translation>Export List ...</translation>
    </message>
    <message>
        <source>把列表中的所有连接导出为 CSV 或 JSON Lines 文件</source>
        <translation>Export every connection of the list as a CSV or JSON Lines file</translation>
    </message>
    <message>
        <source>导出列表</source>
        <translation>Export List</translation>
    </message>
    <message>
        <source>导出选中的行 ...</source>
        <translation>Export Selected Rows ...</translation>
    </message>
    <message>
        <source>把当前页中选中的行导出为 CSV 或 JSON Lines 文件</source>
        <translation>Export the rows selected on the page shown as a CSV or JSON Lines file</translation>
    </message>
    <message>
        <source>导出选中的行</source>
        <translation>Export Selected Rows</translation>
    </message>
    <message>
        <source>导出历史 ...</source>
        <translation>Export History ...</translation>
    </message>
    <message>
        <source>把已关闭连接的历史导出为 CSV 或 JSON Lines 文件</source>
        <translation>Export the history of closed connections as a CSV or JSON Lines file</translation>
    </message>
    <message>
        <source>导出历史</source>
        <translation>Export History</translation>
    </message>
</context>
<context>
    <name>Core</name>
    <message>
        <source>无法启动驱动程序<byte value="xd"/>
Error message : %1<byte value="xd"/>
没有抓包权限: 请以 root 身份运行, 或授予抓包程序 quorvel-capture 抓包能力: %2<byte value="xd"/>
能力在程序启动时才生效: 运行中的程序被授予能力后须重新启动。quorvel-capture 在每次开始监控时启动, 授予后重新开始监控即可。</source>
        <translation>Cannot start capturing<byte value="xd"/>
Error message: %1<byte value="xd"/>
No permission to capture: run as root, or grant the capture program quorvel-capture its capability: %2<byte value="xd"/>
A capability takes effect when a program starts: a running program must be restarted after the grant. quorvel-capture starts each time monitoring starts, so simply start monitoring again.</translation>
    </message>
    <message>
        <source>无法启动驱动程序<byte value="xd"/>
Error message : %1<byte value="xd"/>
没有抓包权限: 只有用户组 %2 的成员才能抓包。请以 root 身份运行, 或把自己加入该组: %3<byte value="xd"/>
组成员身份在登录时才生效: 加入后请注销并重新登录, 再启动 Quorvel。</source>
        <translation>Cannot start capturing<byte value="xd"/>
Error message: %1<byte value="xd"/>
No permission to capture: only members of the group %2 can capture. Run as root, or add yourself to that group: %3<byte value="xd"/>
Group membership takes effect at login: after joining, log out, log back in and start Quorvel again.</translation>
    </message>
    <message>
        <source>无法启动驱动程序<byte value="xd"/>
Error message : %1</source>
        <translation>Cannot start capturing<byte value="xd"/>
Error message: %1</translation>
    </message>
    <message>
        <source>线程启动失败!</source>
        <translation>Cannot start the capture thread.</translation>
    </message>
    <message>
        <source>抓包已意外停止<byte value="xd"/>
Error message : %1</source>
        <translation>The capture stopped unexpectedly<byte value="xd"/>
Error message: %1</translation>
    </message>
    <message>
        <source>无法打开日志文件 &quot;%1&quot; !<byte value="xd"/>
日志记录功能将会失败.<byte value="xd"/>
您可以在设置窗口重新启用日志功能.</source>
        <translation>Cannot open the log file &quot;%1&quot;.<byte value="xd"/>
Packets will not be logged.<byte value="xd"/>
You can turn the packet log back on in the settings.</translation>
    </message>
    <message>
        <source>无法写入日志文件 &quot;%1&quot; !<byte value="xd"/>
Error message : %2<byte value="xd"/>
监控继续进行, 但日志记录会丢失.</source>
        <translation>Cannot write to the log file &quot;%1&quot;.<byte value="xd"/>
Error message: %2<byte value="xd"/>
Monitoring goes on, but log records will be lost.</translation>
    </message>
</context>
<context>
    <name>DisplayCheck</name>
    <message>
        <source>没有设置 DISPLAY 或 WAYLAND_DISPLAY</source>
        <translation>neither DISPLAY nor WAYLAND_DISPLAY is set</translation>
    </message>
    <message>
        <source>quorvel: 无法打开显示 (%1)。窗口需要图形桌面;
没有桌面时 (例如通过 ssh 或作为服务运行), 请用 quorvel-replay --live 网络适配器 监控。</source>
        <translation>quorvel: cannot open a display (%1). The window needs a graphical desktop;
without one (over ssh, or as a service), monitor with quorvel-replay --live DEVICE.</translation>
    </message>
</context>
<context>
    <name>DocumentOpener</name>
    <message>
        <source>找不到文档:
%1</source>
        <translation>Cannot find the document:
%1</translation>
    </message>
    <message>
        <source>无法打开文档:
%1

请安装网页浏览器，或在环境变量 BROWSER 中指定浏览器。</source>
        <translation>Cannot open the document:
%1

Install a web browser, or name one in the BROWSER environment variable.</translation>
    </message>
</context>
</TS>
