// Where users are sent for help. One address, used by every message that
// names it and by the partition-map dump.
#pragma once

#define ZEPHLAR_SUPPORT_ADDRESS "support@zephlar.example"

// The line that ends the error texts that invite the user to write to us.
#define ZEPHLAR_SUPPORT_LINE "For assistance, e-mail " ZEPHLAR_SUPPORT_ADDRESS "."
