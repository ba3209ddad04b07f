#include "ui/language.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTranslator>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gui/view_fixture.h"
#include "platform/app_files.h"
#include "platform/capture_capabilities.h"
#include "source/open_failure_message.h"
#include "ui/command_ids.h"
#include "ui/message_box_sink.h"

namespace {

// The window's texts in a language while it lives, as the program has them
// after start-up; Chinese again afterwards.
class InLanguage {
 public:
  explicit InLanguage(Language language) {
    EXPECT_TRUE(LoadLanguage(language));
    InstallLanguage();
  }
  ~InLanguage() {
    RemoveLanguage();
    LoadLanguage(Language::kChinese);
  }
};

bool HasChinese(const QString& text) { return text.contains(QRegularExpression(QStringLiteral("\\p{Han}"))); }

TEST(LanguageChoice, OptionThenEnvironmentThenTheDesktopsFirstLanguage) {
  using enum Language;
  struct Case {
    const char* option;
    const char* environment;
    QStringList desktop;
    Language chosen;
  };
  const Case cases[] = {
      {"", "", {"zh-CN", "en-US"}, kChinese},
      {"", "", {"zh-TW"}, kChinese},
      {"", "", {"zh-Hans-CN"}, kChinese},
      {"", "", {"en-US", "zh-CN"}, kEnglish},  // only the first counts
      {"", "", {"de-DE"}, kEnglish},
      {"", "", {"C"}, kEnglish},
      {"", "", {}, kEnglish},
      {"", "en", {"zh-CN"}, kEnglish},
      {"", "zh", {"fr-FR"}, kChinese},
      {"", "fr", {"zh-CN"}, kChinese},  // not a language of ours: ignored
      {"en", "zh", {"zh-CN"}, kEnglish},  // the command line wins
      {"zh", "en", {"en-US"}, kChinese},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.option) + "|" + c.environment + "|" + c.desktop.join(u',').toStdString());
    EXPECT_EQ(ChooseLanguage(QString::fromLatin1(c.option), QString::fromLatin1(c.environment), c.desktop),
              c.chosen);
  }
}

TEST(LanguageChoice, LangOptionIsFoundInItsFormsBeforeTheToolkitStarts) {
  struct Case {
    QStringList arguments;
    const char* value;
  };
  const Case cases[] = {
      {{"quorvel", "--lang", "en"}, "en"},
      {{"quorvel", "-lang", "zh"}, "zh"},
      {{"quorvel", "--lang=en", "--adapter", "lo"}, "en"},
      {{"quorvel", "-platform", "offscreen", "-lang=zh"}, "zh"},
      {{"quorvel", "--lang"}, ""},
      {{"quorvel", "--", "--lang", "en"}, ""},  // a document's name
      {{"quorvel", "--language", "en"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.join(u' ').toStdString());
    EXPECT_EQ(LanguageOption(c.arguments).toStdString(), c.value);
  }
}

// F1 and the filter dialog's Help open the page of the window's language,
// and the Chinese one when the English page is missing.
TEST(LanguageChoice, HelpPageFollowsTheLanguageAndFallsBackToChinese) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("quorvel-help-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  for (const char* name : {"Quorvel.html", "Quorvel.en.html", "group__language.html"}) std::ofstream(folder / name);
  const QString help = QString::fromStdString(folder.string());
  const auto page = [&](const char* chinese, Language language) {
    return std::filesystem::path(HelpPageIn(help, QString::fromLatin1(chinese), language).toStdString());
  };
  EXPECT_EQ(page("Quorvel.html", Language::kEnglish), folder / "Quorvel.en.html");
  EXPECT_EQ(page("Quorvel.html", Language::kChinese), folder / "Quorvel.html");
  EXPECT_EQ(page("group__language.html", Language::kEnglish), folder / "group__language.html");
  std::filesystem::remove_all(folder);
}

struct WindowTexts {
  Language language;
  std::vector<std::string> menus;
  std::vector<std::string> headers;
  std::string rates;
  std::string adapterInUse;
  std::string caption;
};

class WindowLanguageTest : public ViewTest, public ::testing::WithParamInterface<WindowTexts> {};

// The whole window speaks the chosen language: its menus, the list's
// column headers and its message boxes.
TEST_P(WindowLanguageTest, MenusHeadersAndMessageBoxes) {
  const WindowTexts& expected = GetParam();
  InLanguage language(expected.language);
  const std::string device = "qvnl" + std::to_string(getpid() % 100000);
  adapters.push_back({"10.0.0.1 - test", device});
  OpenWindow();

  std::vector<std::string> menus;
  for (const QAction* menu : Frame().menuBar()->actions()) menus.push_back(menu->text().toStdString());
  EXPECT_EQ(menus, expected.menus);
  std::vector<std::string> headers;
  for (int column = 0; column < view->Model().columnCount(); ++column)
    headers.push_back(view->Model().headerData(column, Qt::Horizontal, Qt::DisplayRole).toString().toStdString());
  EXPECT_EQ(headers, expected.headers);
  EXPECT_EQ(Frame().RatesText().toStdString(), expected.rates);

  OtherMonitor other(device);
  ASSERT_TRUE(other.Holding());
  Frame().ExecuteCommand(ID_CAPTURE_START);
  QMessageBox* box = ViewMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text().toStdString(), expected.adapterInUse);
  EXPECT_EQ(box->windowTitle().toStdString(), expected.caption);
  // The toolkit's own button speaks the language too.
  const QString ok = box->button(QMessageBox::Ok)->text();
  EXPECT_EQ(HasChinese(ok), expected.language == Language::kChinese) << ok.toStdString();
  box->close();
  QApplication::processEvents();
}

INSTANTIATE_TEST_SUITE_P(
    EachLanguage, WindowLanguageTest,
    ::testing::Values(
        WindowTexts{Language::kChinese,
                    {"&命令", "&过滤器", "查看", "帮助"},
                    {"源地址", "源端口", "目标地址", "目标端口", "协议", "流量", "封包", "速度", "平均速度", "进程",
                     "用户"},
                    "b/s: 0   平均 b/s: 0", "该网络适配器已被另一个Quorvel的进程占用\n", "错误"},
        WindowTexts{Language::kEnglish,
                    {"&Capture", "F&ilter", "&View", "&Help"},
                    {"Source", "Src Port", "Destination", "Dst Port", "Proto", "Traffic", "Packets", "Speed",
                     "Avg Speed", "Program", "User"},
                    "b/s: 0   avr b/s: 0", "This adapter is already in use by another Quorvel process.\n", "Error"}),
    [](const ::testing::TestParamInfo<WindowTexts>& info) {
      return info.param.language == Language::kChinese ? std::string("Chinese") : std::string("English");
    });

// The save dialog of the settings is the toolkit's: in Chinese its labels
// and buttons are Chinese too, in English none is.
TEST(ToolkitTexts, FileDialogSpeaksTheWindowsLanguage) {
  for (const Language chosen : {Language::kChinese, Language::kEnglish}) {
    SCOPED_TRACE(chosen == Language::kChinese ? "Chinese" : "English");
    InLanguage language(chosen);
    QFileDialog chooser;
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    QStringList texts{chooser.windowTitle()};
    for (const QLabel* label : chooser.findChildren<QLabel*>()) texts << label->text();
    for (const QPushButton* button : chooser.findChildren<QPushButton*>()) texts << button->text();
    texts.removeAll(QString());
    ASSERT_GE(texts.size(), 5) << texts.join(u'|').toStdString();
    for (const QString& text : texts) EXPECT_EQ(HasChinese(text), chosen == Language::kChinese) << text.toStdString();
  }
}

// Where the window's English is fixed by its design (texts it always showed
// in English), the English window keeps it to the letter; the Chinese
// window has them in Chinese.
TEST(WindowTexts, FixedEnglishTextsAreKeptExactly) {
  struct Case {
    const char* context;
    const char* source;
    const char* english;
  };
  const Case cases[] = {
      {"CQuorvelView", "全部数据包: %1, 数据: %2, 总流量: %3", "All packets: %1, Data: %2, Total traffic: %3"},
      {"CQuorvelView", "复制选中的行", "Copy selected lines"},
      {"CQuorvelView", "错误", "Error"},
      {"CMainFrame", "b/s: 0   平均 b/s: 0", "b/s: 0   avr b/s: 0"},
      {"CMessageBoxSink", "错误", "Error"},
      {"CMessageBoxSink", "警告", "Warning"},
      {"CSettingsDlg", "日志文件(&F):", "Log to &file:"},
      {"CSettingsDlg", "请输入一个正整数。", "Enter a positive integer."},
      {"CSettingsDlg", "请输入一个整数。", "Enter an integer."},
      {"CSettingsDlg", "请输入 %1 到 %2 之间的整数。", "Enter an integer between %1 and %2."},
      {"CSettingsDlg", "警告", "Warning"},
      {"CFiltersSetupDlg", "过滤器", "Filter"},
      {"CFiltersSetupDlg", "状态", "Status"},
      {"CFiltersSetupDlg", "没有错误", "no error"},
  };
  InLanguage english(Language::kEnglish);
  for (const Case& c : cases)
    EXPECT_EQ(QCoreApplication::translate(c.context, c.source).toStdString(), c.english) << c.context << " " << c.source;
}

// The core sends its permission message without knowing the language; the
// window translates it and then fills in the command with the helper's
// path, and the capture library's own words, as they are.
TEST(CoreMessages, PermissionMessageIsTranslatedWithItsCommandFilledIn) {
  const std::string library = "socket: Operation not permitted (100%1 %2)";
  const platform::UserMessage message = OpenFailureMessage(library, OpenHint::kMissingCapability);
  const std::string grant = platform::GrantCaptureCapabilityCommand();
  ASSERT_NE(grant.find(platform::CaptureHelperPath()), std::string::npos);

  EXPECT_EQ(CMessageBoxSink::TranslatedText(message).toStdString(),
            "无法启动驱动程序\nError message : " + library + "\n没有抓包权限: 请以 root 身份运行, "
            "或授予抓包程序 quorvel-capture 抓包能力: " + grant +
            "\n能力在程序启动时才生效: 运行中的程序被授予能力后须重新启动。quorvel-capture 在每次开始监控时启动, "
            "授予后重新开始监控即可。");

  InLanguage english(Language::kEnglish);
  const QString text = CMessageBoxSink::TranslatedText(message);
  EXPECT_FALSE(HasChinese(text)) << text.toStdString();
  EXPECT_TRUE(text.startsWith(QStringLiteral("Cannot start capturing\nError message: "))) << text.toStdString();
  EXPECT_TRUE(text.contains(QString::fromStdString(library))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("capability: ") + QString::fromStdString(grant) + u'\n'))
      << text.toStdString();
}

}  // namespace
