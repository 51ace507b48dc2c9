// Adds a test CA certificate (PEM or DER) to the current user's Root store of the
// wine prefix, so WinINet trusts the local test servers without any check relaxed.
//
//   ca_import CERT_FILE
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: ca_import CERT_FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<char> text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.empty()) {
        std::fprintf(stderr, "ca_import: cannot read the certificate\n");
        return 1;
    }

    std::vector<BYTE> der(text.begin(), text.end());
    DWORD derSize = 0;
    if (CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                             nullptr, &derSize, nullptr, nullptr)) {
        der.resize(derSize);
        CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                             der.data(), &derSize, nullptr, nullptr);
    }

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!store) {
        std::fprintf(stderr, "ca_import: cannot open the Root store (%lu)\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(der.size()),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "ca_import: cannot add the certificate (%lu)\n", error);
        return 1;
    }
    return 0;
}
