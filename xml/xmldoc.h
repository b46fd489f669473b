// xml/xmldoc.h: the whole public API of the XML document library in one include.
#pragma once

#include "xml/document.h"
#include "xml/element.h"
#include "xml/exception.h"
#include "xml/node.h"
#include "xml/reference.h"
#include "xml/text_nodes.h"
#include "xml/utf8.h"
#include "xml/writer.h"
