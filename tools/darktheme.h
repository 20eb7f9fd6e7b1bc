#pragma once

#include <QColor>
#include <QPalette>
#include <utility>

// The colours of a common dark desktop theme: the screenshot tool draws the window on it, and the
// window's tests check what is painted there.
inline QPalette darkTheme() {
  const std::pair<QPalette::ColorRole, const char *> colours[] = {
      {QPalette::Window, "#353535"},    {QPalette::WindowText, "#eeeeee"},
      {QPalette::Base, "#3d3d3d"},      {QPalette::Text, "#eeeeee"},
      {QPalette::Button, "#454545"},    {QPalette::ButtonText, "#eeeeee"},
      {QPalette::Highlight, "#12608a"}, {QPalette::HighlightedText, "#ffffff"},
      {QPalette::Light, "#505050"},     {QPalette::Midlight, "#474747"},
      {QPalette::Mid, "#2b2b2b"},       {QPalette::Dark, "#202020"},
      {QPalette::Shadow, "#101010"}};
  QPalette dark;
  for (const auto &[role, colour] : colours)
    dark.setColor(role, QColor(colour));
  for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    dark.setColor(QPalette::Disabled, role, QColor("#6a6a6a"));
  return dark;
}
