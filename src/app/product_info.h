/* The texts of the program's version data. Plain C preprocessor definitions, so that the
   Windows resource script and the C++ sources share them. The numbers come from the build
   (version_numbers.h, generated from the project version). */
#pragma once

#define SRCTALLY_PRODUCT_NAME "Source Tally"
#define SRCTALLY_COMPANY_NAME "Source Tally Developers"
#define SRCTALLY_LEGAL_COPYRIGHT "Copyright (C) 2026 Source Tally Developers"
#define SRCTALLY_INTERNAL_NAME "srctally"
