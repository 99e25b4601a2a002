# A throwaway CA for the signing tests, to be sourced after wine_script_begin:
#   make_throwaway_ca           $work/pki/ca.crt and its key
#   issue_certificate NAME EKU  $work/pki/NAME.{key,crt,chain} with that extended key usage
#   sign_with NAME FILE...      scripts/windows-sign.sh with NAME's certificate and the test
#                               timestamp authority (issue "timestamps" first)
pki=$work/pki

make_throwaway_ca() {
  mkdir -p "$pki"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.crt" -days 2 -subj /CN=Kestrun-CI-CA \
    -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}

issue_certificate() {
  printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$2" >"$pki/$1.ext"
  openssl req -newkey rsa:2048 -nodes -keyout "$pki/$1.key" -out "$pki/$1.csr" -subj "/CN=$1" 2>/dev/null
  openssl x509 -req -in "$pki/$1.csr" -CA "$pki/ca.crt" -CAkey "$pki/ca.key" -CAcreateserial -days 2 \
    -extfile "$pki/$1.ext" -out "$pki/$1.crt" 2>/dev/null
  cat "$pki/$1.crt" "$pki/ca.crt" >"$pki/$1.chain"
}

# The options scripts/windows-sign.sh takes for NAME's key and the test timestamp authority.
signing_options() {
  echo --cert "$pki/$1.chain" --key "$pki/$1.key" --test-timestamp "$pki/timestamps.chain" "$pki/timestamps.key" --ca "$pki/ca.crt"
}

sign_with() {
  local name=$1; shift
  # shellcheck disable=SC2046 # the options hold no blanks: $work comes from mktemp
  bash "$root/scripts/windows-sign.sh" $(signing_options "$name") "$@"
}

# Fails unless FILE carries a signature and timestamp that verify against the throwaway CA.
verify_signed() {
  local report
  report=$(osslsigncode verify -CAfile "$pki/ca.crt" -TSA-CAfile "$pki/ca.crt" -in "$1" 2>&1) ||
    fail "osslsigncode verify refused $1: $report"
  grep -q '^Timestamp Server Signature verification: ok' <<<"$report" || fail "no verified timestamp on $1: $report"
  [[ "$(tail -n1 <<<"$report")" == "Succeeded" ]] || fail "the verification of $1 did not succeed: $report"
}
