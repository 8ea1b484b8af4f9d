#include "launcher/launcher_config.h"

std::atomic<int> beta_test_enable{0};

int get_beta_test_enable() { return beta_test_enable.load(); }

void set_beta_test_enable(int value) { beta_test_enable = value; }
