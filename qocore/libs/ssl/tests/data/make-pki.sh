#!/bin/sh
# Makes the test PKI of the ssl tests once; its output is committed, so the
# tests never run openssl.  Run from anywhere: ./make-pki.sh
#
# Every certificate is issued with `openssl ca` and fixed dates, far enough
# ahead that the files stay valid; the expiry tests move the replaceable
# wall clock instead.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
START=20200101000000Z
END=29991231000000Z

cat >"$work/ca.cnf" <<'CNF'
[ca]
default_ca = testca
[testca]
dir = WORK
database = WORK/index.txt
new_certs_dir = WORK
serial = WORK/serial
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
email_in_dn = no
[anything]
commonName = optional
organizationName = optional
organizationalUnitName = optional
countryName = optional
[root]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[inter]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
[inter_pathlen0]
basicConstraints = critical, CA:true, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
[inter_notca]
basicConstraints = critical, CA:false
keyUsage = critical, keyCertSign, digitalSignature
[leaf]
basicConstraints = CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:good.example.com, DNS:*.wild.example.com, IP:127.0.0.1, IP:::1
[leaf_wronghost]
basicConstraints = CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:other.example.org
[leaf_nosan]
basicConstraints = CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
[leaf_clientauth]
basicConstraints = CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = clientAuth
subjectAltName = DNS:good.example.com
[leaf_badku]
basicConstraints = CA:false
keyUsage = critical, nonRepudiation
extendedKeyUsage = serverAuth
subjectAltName = DNS:good.example.com
[leaf_urls]
basicConstraints = CA:false
crlDistributionPoints = URI:file:///crl.pem, URI:http://crl.example.com/a.crl, URI:ldap://ldap.example.com/cn=crl
authorityInfoAccess = OCSP;URI:http://ocsp.example.com, OCSP;URI:ftp://ocsp.example.com, caIssuers;URI:http://ca.example.com/ca.crt
[leaf_filecrl]
basicConstraints = CA:false
crlDistributionPoints = URI:file:///crl.pem
[leaf_othername]
basicConstraints = CA:false
subjectAltName = DNS:other.example.com, otherName:1.3.6.1.4.1.311.20.2.3;UTF8:user@example.com, otherName:1.2.3.4;IA5STRING:ia5 value, otherName:1.2.3.5;PRINTABLESTRING:Printable, otherName:1.2.3.6;INTEGER:5, email:mail@example.com
CNF
sed -i "s#WORK#$work#g" "$work/ca.cnf"
: >"$work/index.txt"
echo 1000 >"$work/serial"

# Request configurations choosing the string type of name values.
printf '[req]\ndistinguished_name = dn\nstring_mask = default\n[dn]\n' >"$work/printable.cnf"
printf '[req]\ndistinguished_name = dn\nstring_mask = MASK:0x800\n[dn]\n' >"$work/bmp.cnf"
key() { openssl genpkey -algorithm RSA -pkeyopt "rsa_keygen_bits:${2:-2048}" -out "$work/$1.key" 2>/dev/null; }
# issue <name> <subject> <extensions> <issuer or self> [start] [end] [md]
issue() {
  name=$1 subj=$2 ext=$3 issuer=$4 start=${5:-$START} end=${6:-$END} md=${7:-sha256} strings=${8:-}
  openssl req -new ${strings:+-config "$work/$strings.cnf"} -key "$work/$name.key" -subj "$subj" \
    -out "$work/$name.csr" -multivalue-rdn 2>/dev/null
  if [ "$issuer" = self ]; then
    signer="-selfsign -keyfile $work/$name.key"
  else
    signer="-cert $issuer.pem -keyfile $work/$issuer.key"
  fi
  # shellcheck disable=SC2086
  openssl ca -batch -config "$work/ca.cnf" -notext -preserveDN -md "$md" $signer -extensions "$ext" \
    -startdate "$start" -enddate "$end" -in "$work/$name.csr" -out "$name.pem" 2>/dev/null
  # the keys stay in the work directory, so copy the ones signing others
  cp "$work/$name.key" "$name.key"
}

key root; issue root "/C=XX/O=Yarl Test/CN=Yarl Test Root" root self
key inter; issue inter "/O=Yarl Test/CN=Yarl Test Intermediate" inter root
key good; issue good "/CN=good.example.com" leaf inter
key inter2; issue inter2 "/CN=Yarl Test Second Intermediate" inter inter
key leaf2; issue leaf2 "/CN=good.example.com" leaf inter2
key expired; issue expired "/CN=good.example.com" leaf inter 20030101000000Z 20050101000000Z
key future; issue future "/CN=good.example.com" leaf inter 29000101000000Z 29500101000000Z
key wronghost; issue wronghost "/CN=good.example.com" leaf_wronghost inter
key onecn; issue onecn "/O=Yarl Test/CN=onecn.example.com" leaf_nosan inter
key urls; issue urls "/CN=urls.example.com" leaf_urls inter
key filecrl; issue filecrl "/CN=filecrl.example.com" leaf_filecrl inter
key twocn; issue twocn "/CN=twocn.example.com/CN=twocn.example.com" leaf_nosan inter
key clientauth; issue clientauth "/CN=good.example.com" leaf_clientauth inter
key badku; issue badku "/CN=good.example.com" leaf_badku inter
key notca; issue notca "/CN=Yarl Test Not A CA" inter_notca root
key undernotca; issue undernotca "/CN=good.example.com" leaf notca
key pathlen0; issue pathlen0 "/CN=Yarl Test Path Length 0" inter_pathlen0 root
key subinter; issue subinter "/CN=Yarl Test Sub Intermediate" inter pathlen0
key deep; issue deep "/CN=good.example.com" leaf subinter
key weak 1024; issue weak "/CN=good.example.com" leaf inter
key sha1; issue sha1 "/CN=good.example.com" leaf inter "$START" "$END" sha1
key otherroot; issue otherroot "/CN=Yarl Other Root" root self
key stranger; issue stranger "/CN=good.example.com" leaf otherroot
# A root whose PrintableString name is lower case, for the system bundle.
key lowerroot; issue lowerroot "/O=yarl lower/CN=yarl lower root" root self "$START" "$END" sha256 printable
key lowerleaf; issue lowerleaf "/CN=good.example.com" leaf lowerroot
# Names: a multi-valued RDN, special characters and a BMPString organisation.
key names
openssl req -new -key "$work/names.key" -out "$work/names.csr" -multivalue-rdn \
  -subj "/CN=a,b+OU=#hash/O= lead space" 2>/dev/null
openssl ca -batch -config "$work/ca.cnf" -notext -preserveDN -cert inter.pem -keyfile "$work/inter.key" \
  -extensions leaf_nosan -startdate "$START" -enddate "$END" -in "$work/names.csr" -out names.pem 2>/dev/null
key bmp; issue bmp "/O=Bmp Org/CN=bmp.example.com" leaf_nosan inter "$START" "$END" sha256 bmp
# Other names of three string types and one of another type, between a
# DNS name and an e-mail address.
key othername; issue othername "/CN=othername.example.com" leaf_othername self


# Keys: a PKCS#8 key protected by a password (PBES2 with 3DES, which the
# TLS library reads), an EC key and a damaged one.
openssl pkcs8 -topk8 -in good.key -v2 des3 -passout pass:s3cret -out good-protected.key
# The same key in the traditional encrypted PEM form, whose key derivation
# (unlike PBKDF2's HMAC) changes when a NUL is appended to the password.
openssl rsa -in good.key -aes256 -traditional -passout pass:s3cret -out good-legacy.key 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.key
head -c 400 good.key >damaged.key
echo "-----END PRIVATE KEY-----" >>damaged.key
rm -f othername.key urls.key filecrl.key inter2.key leaf2.key bmp.key notca.key pathlen0.key subinter.key otherroot.key lowerroot.key names.key \
  onecn.key twocn.key expired.key future.key wronghost.key clientauth.key badku.key undernotca.key deep.key \
  weak.key sha1.key stranger.key lowerleaf.key inter.key root.key
cat root.pem lowerroot.pem >bundle.crt
