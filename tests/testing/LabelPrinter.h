// The attributes of a label printer for ippeveprinter (-a): a few sizes of
// its own, borderless, and any size from 50 x 50 to 216 x 356 mm, as IPP
// Everywhere printers describe their media.
#pragma once

namespace testing_support {

inline constexpr const char *kLabelPrinterAttributes = R"(ATTR mimeMediaType document-format-supported application/pdf
ATTR mimeMediaType document-format-default application/pdf
ATTR text printer-location "Dock 3"
ATTR keyword media-supported na_letter_8.5x11in,iso_a4_210x297mm,iso_a6_105x148mm,custom_min_50x50mm,custom_max_216x356mm
ATTR keyword media-default iso_a4_210x297mm
ATTR collection media-col-database {
  MEMBER collection media-size { MEMBER integer x-dimension 21590 MEMBER integer y-dimension 27940 }
  MEMBER integer media-left-margin 0 MEMBER integer media-right-margin 0 MEMBER integer media-top-margin 0 MEMBER integer media-bottom-margin 0
},{
  MEMBER collection media-size { MEMBER integer x-dimension 21000 MEMBER integer y-dimension 29700 }
  MEMBER integer media-left-margin 0 MEMBER integer media-right-margin 0 MEMBER integer media-top-margin 0 MEMBER integer media-bottom-margin 0
},{
  MEMBER collection media-size { MEMBER integer x-dimension 10500 MEMBER integer y-dimension 14800 }
  MEMBER integer media-left-margin 0 MEMBER integer media-right-margin 0 MEMBER integer media-top-margin 0 MEMBER integer media-bottom-margin 0
},{
  MEMBER collection media-size { MEMBER rangeOfInteger x-dimension 5000-21600 MEMBER rangeOfInteger y-dimension 5000-35600 }
  MEMBER integer media-left-margin 0 MEMBER integer media-right-margin 0 MEMBER integer media-top-margin 0 MEMBER integer media-bottom-margin 0
}
ATTR collection media-size-supported {
  MEMBER integer x-dimension 21590 MEMBER integer y-dimension 27940
},{
  MEMBER integer x-dimension 21000 MEMBER integer y-dimension 29700
},{
  MEMBER integer x-dimension 10500 MEMBER integer y-dimension 14800
},{
  MEMBER rangeOfInteger x-dimension 5000-21600 MEMBER rangeOfInteger y-dimension 5000-35600
}
)";

} // namespace testing_support
