#pragma once
// Check boxes that answer a click anywhere in their area, so a click beside a short caption
// still counts, and tell assistive technology that whole area; Qt's own answer only over
// the box and text.
class QCheckBox;

void ClickableOverWholeArea(QCheckBox* box);
