#include "Quelt/HomEvaluator.hpp"

#include "eval/HomEvaluatorImpl.hpp"

namespace Quelt {

HomEvaluator::HomEvaluator(const std::shared_ptr<ContextContent> &context)
    : context_(context), impl_(std::make_shared<HomEvaluatorImpl>(context)) {}

HomEvaluator::HomEvaluator(const std::shared_ptr<ContextContent> &context,
                           const std::string &keyDirPath)
    : context_(context), impl_(std::make_shared<HomEvaluatorImpl>(context, keyDirPath)) {}

HomEvaluator::HomEvaluator(const std::shared_ptr<ContextContent> &context, const KeyPack &keyPack)
    : context_(context), impl_(std::make_shared<HomEvaluatorImpl>(context, keyPack)) {}

void HomEvaluator::negate(const Ciphertext &ct, Ciphertext &out) const { impl_->negate(ct, out); }
void HomEvaluator::negate(const CiphertextMLWE &ct, CiphertextMLWE &out) const {
    impl_->negate(ct, out);
}
void HomEvaluator::add(const Ciphertext &a, const Ciphertext &b, Ciphertext &out) const {
    impl_->add(a, b, out);
}
void HomEvaluator::add(const CiphertextMLWE &a, const CiphertextMLWE &b,
                       CiphertextMLWE &out) const {
    impl_->add(a, b, out);
}
void HomEvaluator::add(const CiphertextMSRLWE &a, const CiphertextMSRLWE &b,
                       CiphertextMSRLWE &out) const {
    impl_->add(a, b, out);
}
void HomEvaluator::sub(const Ciphertext &a, const Ciphertext &b, Ciphertext &out) const {
    impl_->sub(a, b, out);
}
void HomEvaluator::sub(const CiphertextMLWE &a, const CiphertextMLWE &b,
                       CiphertextMLWE &out) const {
    impl_->sub(a, b, out);
}
void HomEvaluator::add(const Ciphertext &ct, const Complex &c, Ciphertext &out) const {
    impl_->add(ct, c, out);
}
void HomEvaluator::add(const CiphertextMLWE &ct, const Complex &c, CiphertextMLWE &out) const {
    impl_->add(ct, c, out);
}
void HomEvaluator::add(const Ciphertext &ct, const Message &msg, Ciphertext &out) const {
    impl_->add(ct, msg, out);
}
void HomEvaluator::add(const CiphertextMLWE &ct, const Message &msg, CiphertextMLWE &out) const {
    impl_->add(ct, msg, out);
}
void HomEvaluator::add(const Ciphertext &ct, const Plaintext &ptxt, Ciphertext &out) const {
    impl_->add(ct, ptxt, out);
}
void HomEvaluator::add(const CiphertextMLWE &ct, const Plaintext &ptxt, CiphertextMLWE &out) const {
    impl_->add(ct, ptxt, out);
}
void HomEvaluator::sub(const Ciphertext &ct, const Complex &c, Ciphertext &out) const {
    impl_->sub(ct, c, out);
}
void HomEvaluator::sub(const CiphertextMLWE &ct, const Complex &c, CiphertextMLWE &out) const {
    impl_->sub(ct, c, out);
}
void HomEvaluator::sub(const Ciphertext &ct, const Message &msg, Ciphertext &out) const {
    impl_->sub(ct, msg, out);
}
void HomEvaluator::sub(const CiphertextMLWE &ct, const Message &msg, CiphertextMLWE &out) const {
    impl_->sub(ct, msg, out);
}
void HomEvaluator::sub(const Ciphertext &ct, const Plaintext &ptxt, Ciphertext &out) const {
    impl_->sub(ct, ptxt, out);
}
void HomEvaluator::sub(const CiphertextMLWE &ct, const Plaintext &ptxt, CiphertextMLWE &out) const {
    impl_->sub(ct, ptxt, out);
}
void HomEvaluator::mult(const Ciphertext &ct, const Complex &c, Ciphertext &out) const {
    impl_->constants().mult(ct, c, out);
}
void HomEvaluator::mult(const CiphertextMLWE &ct, const Complex &c, CiphertextMLWE &out) const {
    impl_->constants().mult(ct, c, out);
}
void HomEvaluator::mult(const Ciphertext &ct, const Message &msg, Ciphertext &out) const {
    impl_->constants().mult(ct, msg, out);
}
void HomEvaluator::mult(const CiphertextMLWE &ct, const Message &msg, CiphertextMLWE &out) const {
    impl_->constants().mult(ct, msg, out);
}
void HomEvaluator::mult(const CiphertextMSRLWE &ct, const Message &msg,
                        CiphertextMSRLWE &out) const {
    impl_->constants().mult(ct, msg, out);
}
void HomEvaluator::mult(const Ciphertext &ct, const Plaintext &ptxt, Ciphertext &out) const {
    impl_->constants().mult(ct, ptxt, out);
}
void HomEvaluator::mult(const CiphertextMLWE &ct, const Plaintext &ptxt,
                        CiphertextMLWE &out) const {
    impl_->constants().mult(ct, ptxt, out);
}
void HomEvaluator::mult(const CiphertextMSRLWE &ct, const Plaintext &ptxt,
                        CiphertextMSRLWE &out) const {
    impl_->constants().mult(ct, ptxt, out);
}
void HomEvaluator::multImagUnit(const Ciphertext &ct, Ciphertext &out) const {
    impl_->constants().multImagUnit(ct, out);
}
void HomEvaluator::multImagUnit(const CiphertextMLWE &ct, CiphertextMLWE &out) const {
    impl_->constants().multImagUnit(ct, out);
}
void HomEvaluator::multInteger(const Ciphertext &ct, i64 k, Ciphertext &out) const {
    impl_->constants().multInteger(ct, k, out);
}
void HomEvaluator::multInteger(const CiphertextMLWE &ct, i64 k, CiphertextMLWE &out) const {
    impl_->constants().multInteger(ct, k, out);
}
void HomEvaluator::multInteger(const CiphertextMSRLWE &ct, i64 k, CiphertextMSRLWE &out) const {
    impl_->constants().multInteger(ct, k, out);
}
void HomEvaluator::multWithoutRescale(const Ciphertext &ct, const Complex &c,
                                      Ciphertext &out) const {
    impl_->constants().multWithoutRescale(ct, c, out);
}
void HomEvaluator::multWithoutRescale(const CiphertextMLWE &ct, const Complex &c,
                                      CiphertextMLWE &out) const {
    impl_->constants().multWithoutRescale(ct, c, out);
}
void HomEvaluator::multWithoutRescale(const Ciphertext &ct, const Plaintext &ptxt,
                                      Ciphertext &out) const {
    impl_->constants().multWithoutRescale(ct, ptxt, out);
}
void HomEvaluator::multWithoutRescale(const CiphertextMLWE &ct, const Plaintext &ptxt,
                                      CiphertextMLWE &out) const {
    impl_->constants().multWithoutRescale(ct, ptxt, out);
}
void HomEvaluator::multWithoutRescale(const CiphertextMSRLWE &ct, const Plaintext &ptxt,
                                      CiphertextMSRLWE &out) const {
    impl_->constants().multWithoutRescale(ct, ptxt, out);
}
void HomEvaluator::rescale(Ciphertext &ct) const { impl_->levels().rescale(ct); }
void HomEvaluator::rescale(CiphertextMLWE &ct) const { impl_->levels().rescale(ct); }
void HomEvaluator::rescale(CiphertextMSRLWE &ct) const { impl_->levels().rescale(ct); }
void HomEvaluator::inverseRescale(Ciphertext &ct) const { impl_->levels().inverseRescale(ct); }
void HomEvaluator::levelDown(const Ciphertext &ct, u64 level, Ciphertext &out) const {
    impl_->levels().levelDown(ct, level, out);
}
void HomEvaluator::levelDown(const CiphertextMLWE &ct, u64 level, CiphertextMLWE &out) const {
    impl_->levels().levelDown(ct, level, out);
}
void HomEvaluator::levelDownOne(const Ciphertext &ct, Ciphertext &out) const {
    impl_->levels().levelDownOne(ct, out);
}
void HomEvaluator::levelDownOne(const CiphertextMLWE &ct, CiphertextMLWE &out) const {
    impl_->levels().levelDownOne(ct, out);
}
void HomEvaluator::levelDownOne(const CiphertextMSRLWE &ct, CiphertextMSRLWE &out) const {
    impl_->levels().levelDownOne(ct, out);
}
void HomEvaluator::discretize(Ciphertext &ct, u64 s) const { impl_->levels().discretize(ct, s); }
void HomEvaluator::baseModulusSwitch(const Ciphertext &ct, Ciphertext &out) const {
    impl_->levels().baseModulusSwitch(ct, out);
}
void HomEvaluator::switchContext(const Ciphertext &ct, Ciphertext &out) const {
    impl_->levels().switchContext(ct, out);
}
void HomEvaluator::modReduct(Ciphertext &ct) const { impl_->levels().modReduct(ct); }

} // namespace Quelt
