// Encrypts a sample file with the Encrypt command and says where the
// container is. Usage: veltrane_example [FILE [PASSWORD]]
#include <cstdio>
#include <fstream>

#include "app/encrypt_command.h"
#include "codec/enn.h"

int main(int argc, char** argv) {
    EncryptFields fields;
    fields.path.text = argc > 1 ? argv[1] : "sample-payments.txt";
    fields.password.text = fields.confirm.text = argc > 2 ? argv[2] : "123456";
    if (argc <= 1) {
        std::ofstream sample(fields.path.text, std::ios::binary);
        sample << "20261208,6222021234567890,Karsholm Trading,1520.00,CNY\n"
                  "20261208,6222029876543210,Veltrane Supplies,88.50,CNY\n";
    }
    const int result = RunEncryptCommand(fields);
    std::printf("%s\n", fields.status.text.c_str());
    return result == ENN_OK ? 0 : 1;
}
