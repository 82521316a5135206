// The maker's web site, as the library names it to the user: the page the
// visit button opens, that button's caption, and the closing sentence of the
// message shown when the firmware sources cannot be fetched.
#pragma once

#define ZEPHLAR_MAKER_HOME_PAGE "http://www.zephlar.example/"
#define ZEPHLAR_VISIT_CAPTION "Visit zephlar.example"
#define ZEPHLAR_SOURCES_HELP "Visit " ZEPHLAR_MAKER_HOME_PAGE " for more information."
