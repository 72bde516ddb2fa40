#!/bin/sh
# Makes the signature tests' keys and certificates in the folder given, with the openssl command:
# RSA keys of the sizes the firmware takes and of one it refuses, in PKCS#8 and PKCS#1, some
# encrypted; an EC key; self-signed certificates; a signature of message.txt; the fingerprints of
# rsa2048.crt. Fresh for every run: nothing secret is committed.
set -eu
dir=$1
rm -rf "$dir"
umask 077
mkdir -p "$dir"
cd "$dir"
for bits in 1024 2048 4096; do
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$bits -out rsa$bits.pem 2>/dev/null
done
openssl rsa -in rsa2048.pem -traditional -out rsa2048-pkcs1.pem 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.pem 2>/dev/null
openssl ec -in ec.pem -out ec-traditional.pem 2>/dev/null
# The passphrase reaches openssl through its environment, never its command line.
export CORVANE_TEST_PASSPHRASE='open sesame'
openssl pkcs8 -topk8 -in rsa2048.pem -passout env:CORVANE_TEST_PASSPHRASE -out encrypted.pem
openssl pkcs8 -topk8 -in rsa2048.pem -v2 aes-128-cbc -v2prf hmacWithSHA1 \
  -passout env:CORVANE_TEST_PASSPHRASE -out encrypted-sha1.pem
openssl rsa -in rsa2048.pem -aes256 -traditional -passout env:CORVANE_TEST_PASSPHRASE \
  -out encrypted-pkcs1.pem 2>/dev/null
for key in rsa2048 rsa4096 ec; do
  openssl req -x509 -new -key $key.pem -subj "/CN=Corvane test $key" -days 30 -out $key.crt \
    2>/dev/null
done
printf 'Lenovo_SetBiosSettingEx,WakeOnLAN,Disable' > message.txt
openssl dgst -sha256 -sign rsa2048.pem -out message.sig message.txt
for digest in md5 sha1 sha256; do
  openssl x509 -in rsa2048.crt -noout -fingerprint -$digest > $digest.txt
done
