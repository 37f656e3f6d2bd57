#include "ProgressBarView.h"

#include <QProgressBar>

void ProgressBarView::Show() { mBar.show(); }
void ProgressBarView::Hide() { mBar.hide(); }
void ProgressBarView::SetValue(int percent) { mBar.setValue(percent); }
