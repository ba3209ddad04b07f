#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <string>

// The ways a web address reaches a browser, each replaceable by a test.
struct UrlOpeners {
  // The desktop's own opener for the address.
  std::function<bool(const QUrl& url)> desktop;
  // The Exec line of the desktop's default web browser; empty for none.
  std::function<std::string()> browserExec;
  // Starts a program with its arguments, never through a shell.
  std::function<bool(const QString& program, const QStringList& arguments)> start;

  static UrlOpeners System();
};

// Opens the web address: through the desktop's opener, and when that
// fails through the default browser's command line, cut before its
// placeholder for the address and given the address instead. Tells the
// user nothing either way; false when neither worked.
bool GotoURL(const QString& url, const UrlOpeners& openers = UrlOpeners::System());
