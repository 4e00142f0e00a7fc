// Prints a DER certificate's subject as this system's crypt32 writes it for a package's publisher:
// CertNameToStrW(X509_ASN_ENCODING, subject, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG), as UTF-8.
// The package test compares it with what scripts/sparse_package.py writes for the same certificate.

#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: cert_subject CERTIFICATE.der\n");
        return 2;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cert_subject: cannot open the certificate (error %lu)\n", GetLastError());
        return 1;
    }
    std::vector<BYTE> bytes(GetFileSize(file, nullptr));
    DWORD read = 0;
    const BOOL ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    PCCERT_CONTEXT certificate = ok ? CertCreateCertificateContext(X509_ASN_ENCODING, bytes.data(), read) : nullptr;
    if (certificate == nullptr) {
        std::fprintf(stderr, "cert_subject: not a DER certificate (error %lu)\n", GetLastError());
        return 1;
    }
    const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    CERT_NAME_BLOB* subject = &certificate->pCertInfo->Subject;
    std::wstring text(CertNameToStrW(X509_ASN_ENCODING, subject, type, nullptr, 0), L'\0');
    text.resize(CertNameToStrW(X509_ASN_ENCODING, subject, type, text.data(), static_cast<DWORD>(text.size())) - 1);
    CertFreeCertificateContext(certificate);
    std::string utf8(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr),
        '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                        static_cast<int>(utf8.size()), nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fputc('\n', stdout);
    return 0;
}
