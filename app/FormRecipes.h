#pragma once
// The file dialogs of the "&File" menu.
#include <QFileDialog>
#include <functional>
#include <string>

// Shows a prepared file dialog modally; returns the chosen file, or an empty
// text when the operator cancels. Tests replace it to choose without a window.
extern std::function<std::string(QFileDialog &dialog)> RunFileDialog;

// Property of a recipe edit: how many characters the operator may type. The
// edit still shows a longer stored value whole.
extern const char *const TypingLimit;

// Runs `handler` on a mouse press on the panel itself (not on its controls).
void OnBackgroundClick(QWidget *panel, std::function<void()> handler);
