#include "ControlGeometry.h"

#include "Twips.h"

float WidgetGeometry::left() const { return Twips::left(m_widget); }
float WidgetGeometry::top() const { return Twips::top(m_widget); }
float WidgetGeometry::width() const { return Twips::width(m_widget); }
float WidgetGeometry::height() const { return Twips::height(m_widget); }
void WidgetGeometry::setLeft(float twips) { Twips::setLeft(m_widget, twips); }
void WidgetGeometry::setTop(float twips) { Twips::setTop(m_widget, twips); }
void WidgetGeometry::setWidth(float twips) { Twips::setWidth(m_widget, twips); }
void WidgetGeometry::setHeight(float twips) { Twips::setHeight(m_widget, twips); }
